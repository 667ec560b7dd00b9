// The archive page of a Vantrel station: its live state, the coverage of the last days, the
// recordings with a player each, and the export of a span. Served by the program itself with
// page.css; no other assets. Every text from the program goes into the page as textContent
// or an attribute, never as markup.
//
// Times: the program sends local times with their offset ("2026-12-09T10:00:00+01:00"). The
// page shows and groups them by the wall-clock date and time written there, which is the
// station's local time (that of its file names and its days), whatever the browser's own
// time zone; it never converts them to the browser's zone.
'use strict';

(function () {

// The page's texts in English; /api/strings overlays them with the [Web] section of the
// program's language file. %1, %2 stand for what the page fills in.
const defaultTexts = {
    Lang: 'en',
    Title: 'Recording archive',
    Recording: 'Recording',
    Stopped: 'Stopped',
    File: 'File',
    Elapsed: 'Elapsed',
    DiskLeft: 'Disk time left',
    NextEntry: 'Next entry',
    None: 'none',
    Level: 'Level',
    Left: 'L',
    Right: 'R',
    ActionRecord: 'Record',
    ActionStop: 'Stop',
    NoAnswer: 'The program does not answer: %1',
    Unauthorized: 'Access denied: open this page with the access token in its address (…/?token=…).',
    Coverage: 'Coverage of the last %1 days',
    CoverageHint: 'Point at a span, or tap it, to see what it was.',
    NoCoverage: 'Nothing recorded or asked for in these days.',
    Recorded: 'recorded',
    Lost: 'lost',
    Silent: 'silent',
    Damaged: 'damaged',
    Unrecorded: 'missing',
    NotAsked: 'not asked',
    Recordings: 'Recordings',
    NoRecordings: 'No recordings yet.',
    Verified: 'checked',
    Unverified: 'not yet checked',
    Missing: 'file missing',
    LengthUnknown: 'length unknown',
    MegaBytes: '%1 MB',
    GigaBytes: '%1 GB',
    Download: 'Download',
    Export: 'Export a span',
    From: 'From',
    To: 'To',
    Format: 'Format',
    ExportStart: 'Export',
    ExportHint: 'The span is cut out of the recordings into one file and downloaded; where nothing was recorded it holds silence.',
    ExportIncomplete: 'Give both times.',
    ExportBadSpan: 'The start must be before the end.',
    LoadFailed: 'Could not load %1: %2',
};

const statusPollMs = 2000;
const listPollMs = 60000;   // coverage and archive change at most once a minute that matters
const openDays = 3;         // days of recordings shown open at first; the others on demand
const coverageDays = 30;
const levelFloorDb = -60;

// The window's colours of the coverage strips, by the shade names of /api/coverage.
const shades = [
    { shade: 'recorded', key: 'Recorded' },
    { shade: 'damaged', key: 'Damaged' },
    { shade: 'lost', key: 'Lost' },
    { shade: 'silent', key: 'Silent' },
    { shade: 'unrecorded', key: 'Unrecorded' },
    { shade: 'notAsked', key: 'NotAsked' },
];

let texts = Object.assign({}, defaultTexts);
const token = new URLSearchParams(window.location.search).get('token');
let denied = false;
let archiveSignature = '';

function $(id) { return document.getElementById(id); }

function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined && text !== null) e.textContent = String(text);
    return e;
}

// A text of the table with %1, %2, … filled in.
function t(key) {
    const args = Array.prototype.slice.call(arguments, 1);
    const text = Object.prototype.hasOwnProperty.call(texts, key) ? texts[key] : key;
    return String(text).replace(/%(\d)/g, function (m, n) {
        const i = Number(n) - 1;
        return i >= 0 && i < args.length ? String(args[i]) : m;
    });
}

// The same address with the page's token added, when the page was opened with one.
function withToken(url) {
    if (!token) return url;
    return url + (url.indexOf('?') < 0 ? '?' : '&') + 'token=' + encodeURIComponent(token);
}

// Only paths on this server: an address from the program never leads elsewhere.
function isLocalPath(url) {
    return typeof url === 'string' && url.charAt(0) === '/' && url.charAt(1) !== '/' && url.charAt(1) !== '\\';
}

class Unauthorized extends Error {}

async function getJson(path) {
    const response = await fetch(withToken(path), { cache: 'no-store', credentials: 'same-origin' });
    if (response.status === 401) throw new Unauthorized();
    if (!response.ok) {
        const body = (await response.text()).split('\n')[0].trim();
        throw new Error(body || String(response.status) + ' ' + response.statusText);
    }
    return response.json();
}

// The program's texts cannot be had without the token either, so this one is English.
function showDenied() {
    denied = true;
    $('unauthorized').textContent = t('Unauthorized');
    $('unauthorized').hidden = false;
    $('content').hidden = true;
    $('head').hidden = true;
}

// --- Numbers and times ---------------------------------------------------------------------

function pad2(n) { return (n < 10 ? '0' : '') + n; }

// 3723 -> "1:02:03"
function clockText(seconds) {
    const s = Math.floor(seconds);
    return Math.floor(s / 3600) + ':' + pad2(Math.floor(s / 60) % 60) + ':' + pad2(s % 60);
}

function numberText(value, digits) {
    try {
        return new Intl.NumberFormat(t('Lang'), { minimumFractionDigits: digits, maximumFractionDigits: digits }).format(value);
    } catch (e) {
        return value.toFixed(digits);
    }
}

function sizeText(bytes) {
    if (typeof bytes !== 'number' || bytes < 0) return '';
    if (bytes >= 1e9) return t('GigaBytes', numberText(bytes / 1e9, 2));
    return t('MegaBytes', numberText(bytes / 1e6, 1));
}

// The wall-clock fields of a local time as the program writes it, offset or not:
// "2026-12-09T10:00:00+01:00" -> {date: "2026-12-09", time: "10:00:00", y, m, d}.
function wallClock(text) {
    const m = /^(\d{4})-(\d{2})-(\d{2})(?:[T ](\d{2}):(\d{2})(?::(\d{2}))?)?/.exec(typeof text === 'string' ? text : '');
    if (!m) return null;
    return {
        date: m[1] + '-' + m[2] + '-' + m[3],
        time: (m[4] || '00') + ':' + (m[5] || '00') + ':' + (m[6] || '00'),
        y: Number(m[1]), m: Number(m[2]), d: Number(m[3]),
    };
}

// A date in the language of the page; the date is a calendar day, so it is formatted in UTC
// to keep the browser's zone out of it.
function dateText(wall, options) {
    try {
        return new Intl.DateTimeFormat(t('Lang'), Object.assign({ timeZone: 'UTC' }, options))
            .format(new Date(Date.UTC(wall.y, wall.m - 1, wall.d)));
    } catch (e) {
        return wall.date;
    }
}

// The local ISO form the export expects: a datetime-local field gives "…T10:58" when the
// seconds are 0, and the export wants them written.
function exportTime(value) {
    return /^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}$/.test(value) ? value + ':00' : value;
}

// --- Texts of the page ---------------------------------------------------------------------

async function loadTexts() {
    try {
        const strings = await getJson('/api/strings');
        // Keys in the language file match without regard to case, as everywhere in the program.
        const byLowerKey = {};
        Object.keys(defaultTexts).forEach(function (k) { byLowerKey[k.toLowerCase()] = k; });
        Object.keys(strings || {}).forEach(function (k) {
            const key = byLowerKey[k.toLowerCase()];
            if (key && typeof strings[k] === 'string' && strings[k] !== '') texts[key] = strings[k];
        });
    } catch (e) {
        if (e instanceof Unauthorized) throw e;
        // Without the program's texts the page stays English.
    }
    document.documentElement.lang = t('Lang');
    document.querySelectorAll('[data-text]').forEach(function (e) {
        e.textContent = t(e.getAttribute('data-text'));
    });
    document.title = t('Title');
    $('coverageHeading').textContent = t('Coverage', coverageDays);
    $('coverageDetail').textContent = t('CoverageHint');
}

// --- Live state ----------------------------------------------------------------------------

function levelMeter(label, dbfs) {
    const row = el('div', 'level');
    row.appendChild(el('span', 'level-name', label));
    const bar = el('div', 'level-bar');
    const cover = el('div', 'level-cover');
    const known = typeof dbfs === 'number' && isFinite(dbfs);
    const share = known ? Math.min(1, Math.max(0, (dbfs - levelFloorDb) / -levelFloorDb)) : 0;
    cover.style.width = ((1 - share) * 100).toFixed(1) + '%';
    bar.appendChild(cover);
    row.appendChild(bar);
    row.appendChild(el('span', 'level-value', known ? numberText(dbfs, 1) + ' dBFS' : '—'));
    return row;
}

function showLevels(levels) {
    const box = $('levels');
    box.textContent = '';
    box.setAttribute('aria-label', t('Level'));
    const list = Array.isArray(levels) ? levels : [null, null];
    const names = list.length === 2 ? [t('Left'), t('Right')] : list.map(function (v, i) { return String(i + 1); });
    list.forEach(function (db, i) { box.appendChild(levelMeter(names[i], db)); });
}

function nextEntryText(status) {
    const wall = wallClock(status.nextEntry);
    if (!wall) return t('None');
    const actions = { Record: t('ActionRecord'), Stop: t('ActionStop') };
    const action = status.nextEntryAction ? (actions[status.nextEntryAction] || status.nextEntryAction) : '';
    return dateText(wall, { day: 'numeric', month: 'short' }) + ' ' + wall.time + (action ? ' — ' + action : '');
}

function showStatus(status) {
    const failed = status.statusKind === 'failed' || !!status.failure;
    const station = status.station || 'Vantrel';
    $('station').textContent = station;
    document.title = station + ' — ' + t('Title');

    const badge = $('badge');
    badge.textContent = status.recording ? t('Recording') : t('Stopped');
    badge.className = 'badge ' + (status.recording ? 'on' : 'off');

    // The status line, unless it only repeats the badge or the failure below it.
    const line = $('status');
    const statusText = String(status.status || '');
    const repeats = statusText.toLowerCase() === badge.textContent.toLowerCase() || statusText === status.failure;
    line.textContent = repeats ? '' : statusText;
    line.className = 'status ' + (failed ? 'failed' : status.statusKind === 'warning' ? 'warning' : '');

    const failure = $('failure');
    failure.textContent = status.failure || '';
    failure.hidden = !status.failure;

    $('file').textContent = status.file || t('None');
    $('elapsed').textContent = status.elapsed || (typeof status.elapsedSeconds === 'number' ? clockText(status.elapsedSeconds) : '—');
    $('diskLeft').textContent = status.diskLeft || '—';
    $('nextEntry').textContent = nextEntryText(status);
    showLevels(status.levelDbfs);
}

function showNoAnswer(cause) {
    const line = $('status');
    line.textContent = t('NoAnswer', cause);
    line.className = 'status failed';
    showLevels(null);
}

async function pollStatus() {
    try {
        showStatus(await getJson('/api/status'));
    } catch (e) {
        if (e instanceof Unauthorized) { showDenied(); return; }
        showNoAnswer(e.message);
    }
    setTimeout(pollStatus, statusPollMs);
}

// --- Coverage ------------------------------------------------------------------------------

function showLegend() {
    const legend = $('legend');
    legend.textContent = '';
    shades.forEach(function (s) {
        const item = el('li');
        item.appendChild(el('span', 'swatch shade-' + s.shade));
        item.appendChild(document.createTextNode(t(s.key)));
        legend.appendChild(item);
    });
}

// Hour marks at 0, 6, 12, 18 and 24 as shares of a 24-hour day; on the days the clocks change
// they are off by up to an hour, the segments are not.
function axisRow() {
    const track = el('div', 'axis-track');
    track.setAttribute('aria-hidden', 'true');
    [0, 6, 12, 18, 24].forEach(function (h) {
        const mark = el('span', 'axis-mark', pad2(h));
        mark.style.left = (h / 24 * 100) + '%';
        track.appendChild(mark);
    });
    return [el('span', 'strip-label'), track];
}

// A day's label and strip: two cells of the strips' grid, so that all labels take the width
// of the widest.
function stripOf(day) {
    const wall = wallClock(day.day);
    const label = el('span', 'strip-label', wall ? dateText(wall, { weekday: 'short', day: 'numeric', month: 'numeric' }) : day.day);
    label.title = day.day;
    const strip = el('div', 'strip');
    const span = day.endMs - day.startMs;
    [6, 12, 18].forEach(function (h) {
        const tick = el('span', 'tick');
        tick.style.left = (h / 24 * 100) + '%';
        strip.appendChild(tick);
    });
    (day.segments || []).forEach(function (s) {
        if (!(span > 0) || !(s.endMs > s.startMs)) return;
        const seg = el('span', 'segment shade-' + String(s.shade).replace(/[^A-Za-z]/g, ''));
        seg.style.left = ((s.startMs - day.startMs) / span * 100).toFixed(4) + '%';
        seg.style.width = ((s.endMs - s.startMs) / span * 100).toFixed(4) + '%';
        seg.title = s.text || '';
        seg.addEventListener('click', function () { $('coverageDetail').textContent = s.text || ''; });
        strip.appendChild(seg);
    });
    return [label, strip];
}

function showCoverage(coverage) {
    const strips = $('strips');
    strips.textContent = '';
    const days = (coverage && Array.isArray(coverage.days)) ? coverage.days : [];
    const cells = days.length ? [axisRow()].concat(days.map(stripOf)) : [];
    cells.forEach(function (row) { row.forEach(function (cell) { strips.appendChild(cell); }); });
    const message = $('coverageMessage');
    message.textContent = days.length ? '' : t('NoCoverage');
    message.hidden = days.length > 0;
}

async function loadCoverage() {
    try {
        showCoverage(await getJson('/api/coverage?days=' + coverageDays));
    } catch (e) {
        if (e instanceof Unauthorized) { showDenied(); return; }
        const message = $('coverageMessage');
        message.textContent = t('LoadFailed', t('Coverage', coverageDays), e.message);
        message.hidden = false;
    }
}

// --- Recordings ----------------------------------------------------------------------------

function verificationOf(record) {
    const kinds = {
        ok: { key: 'Verified', className: 'ok' },
        damaged: { key: 'Damaged', className: 'damaged' },
        missing: { key: 'Missing', className: 'missing' },
        unverified: { key: 'Unverified', className: 'unverified' },
    };
    const kind = kinds[record.verified] || kinds.unverified;
    const badge = el('span', 'check ' + kind.className, t(kind.key));
    if (record.reason) badge.title = record.reason;
    return badge;
}

function recordingRow(record) {
    const row = el('li', 'recording');
    const facts = el('div', 'rec-facts');
    const wall = wallClock(record.start);
    facts.appendChild(el('span', 'rec-time', wall ? wall.time : ''));
    facts.appendChild(el('span', 'rec-length',
        typeof record.length === 'number' && record.length >= 0 ? clockText(record.length) : t('LengthUnknown')));
    if (record.verified !== 'missing') facts.appendChild(el('span', 'rec-size', sizeText(record.size)));
    facts.appendChild(verificationOf(record));
    facts.appendChild(el('span', 'rec-file', record.file || ''));
    // The reason is in the badge's tool tip, and written out too for screens without a pointer.
    if (record.verified === 'damaged' && record.reason) facts.appendChild(el('span', 'rec-reason', record.reason));
    row.appendChild(facts);

    // A missing file has nothing to play or fetch.
    if (record.verified !== 'missing' && isLocalPath(record.url)) {
        const media = el('div', 'rec-media');
        const audio = el('audio');
        audio.controls = true;
        audio.preload = 'none';
        audio.src = withToken(record.url);
        media.appendChild(audio);
        const link = el('a', 'download', t('Download'));
        link.href = withToken(record.url + (record.url.indexOf('?') < 0 ? '?' : '&') + 'download=1');
        link.setAttribute('download', record.file || '');
        media.appendChild(link);
        row.appendChild(media);
    }
    return row;
}

// The recordings by the local day of their start, days newest first, each day's recordings
// in the order the program gives (newest first).
function groupByDay(recordings) {
    const byDay = new Map();
    recordings.forEach(function (r) {
        const wall = wallClock(r.start);
        const key = wall ? wall.date : '';
        if (!byDay.has(key)) byDay.set(key, []);
        byDay.get(key).push(r);
    });
    return Array.from(byDay.keys()).sort().reverse().map(function (k) { return { date: k, recordings: byDay.get(k) }; });
}

// A day is a <details>; its rows (and their players) are made when it is first opened, so an
// archive of years costs one line a day until looked at.
function dayBlock(day, open) {
    const block = el('details', 'day');
    block.dataset.date = day.date;
    const wall = wallClock(day.date);
    const summary = el('summary');
    summary.appendChild(el('span', 'day-name',
        wall ? dateText(wall, { weekday: 'long', day: 'numeric', month: 'long', year: 'numeric' }) : '?'));
    summary.appendChild(el('span', 'day-count', String(day.recordings.length)));
    block.appendChild(summary);
    let filled = false;
    const fill = function () {
        if (filled || !block.open) return;
        filled = true;
        const list = el('ul', 'recording-list');
        day.recordings.forEach(function (r) { list.appendChild(recordingRow(r)); });
        block.appendChild(list);
    };
    block.addEventListener('toggle', fill);
    block.open = open;
    fill();
    return block;
}

function somethingPlays() {
    return Array.prototype.some.call(document.querySelectorAll('audio'), function (a) { return !a.paused; });
}

function showArchive(archive) {
    const recordings = (archive && Array.isArray(archive.recordings)) ? archive.recordings : [];
    const signature = JSON.stringify(recordings);
    // A new list replaces the players, so it waits while one plays.
    if (signature === archiveSignature || somethingPlays()) return;
    const firstTime = archiveSignature === '';
    archiveSignature = signature;

    const box = $('days');
    const wasOpen = new Set();
    box.querySelectorAll('details.day').forEach(function (d) { if (d.open) wasOpen.add(d.dataset.date); });
    box.textContent = '';
    groupByDay(recordings).forEach(function (day, i) {
        box.appendChild(dayBlock(day, firstTime ? i < openDays : wasOpen.has(day.date)));
    });
    const message = $('archiveMessage');
    message.textContent = recordings.length ? '' : t('NoRecordings');
    message.hidden = recordings.length > 0;
}

async function loadArchive() {
    try {
        showArchive(await getJson('/api/archive'));
    } catch (e) {
        if (e instanceof Unauthorized) { showDenied(); return; }
        const message = $('archiveMessage');
        message.textContent = t('LoadFailed', t('Recordings'), e.message);
        message.hidden = false;
    }
}

// --- Export --------------------------------------------------------------------------------

function localInputValue(date) {
    return date.getFullYear() + '-' + pad2(date.getMonth() + 1) + '-' + pad2(date.getDate()) + 'T' +
        pad2(date.getHours()) + ':' + pad2(date.getMinutes()) + ':00';
}

function setUpExport() {
    // The last full hour, by the browser's clock, as a start the user then changes.
    const to = new Date();
    to.setMinutes(0, 0, 0);
    const from = new Date(to.getTime() - 3600 * 1000);
    $('exportFrom').value = localInputValue(from);
    $('exportTo').value = localInputValue(to);

    $('exportForm').addEventListener('submit', function (event) {
        event.preventDefault();
        const from = exportTime($('exportFrom').value);
        const to = exportTime($('exportTo').value);
        const message = $('exportMessage');
        const problem = !from || !to ? t('ExportIncomplete') : from >= to ? t('ExportBadSpan') : '';
        message.textContent = problem;
        message.hidden = !problem;
        if (problem) return;
        // An attachment leaves the page where it is; a refused span shows the program's
        // one-line cause instead.
        window.location.assign(withToken('/api/export?from=' + encodeURIComponent(from) + '&to=' +
            encodeURIComponent(to) + '&format=' + encodeURIComponent($('exportFormat').value)));
    });
}

// --- Start ---------------------------------------------------------------------------------

async function start() {
    try {
        await loadTexts();
    } catch (e) {
        showDenied();
        return;
    }
    showLegend();
    showLevels(null);
    setUpExport();
    pollStatus();
    const refreshLists = async function () {
        if (denied) return;
        await Promise.all([loadCoverage(), loadArchive()]);
        if (!denied) setTimeout(refreshLists, listPollMs);
    };
    refreshLists();
}

// index.html inserts this script, so it may run before or after the document is parsed.
if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
else start();

})();
