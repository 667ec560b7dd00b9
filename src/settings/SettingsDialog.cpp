#include "settings/SettingsDialog.h"

#include "app/Recorder.h"
#include "audio/AudioBackend.h"
#include "core/ProgramFiles.h"
#include "core/WindowFont.h"
#include "recording/OutputFileName.h"
#include "settings/Logging.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace settings {

namespace {

constexpr int kVisiblePresetRows = 15;
// Wide enough for a folder, a template and a time-stamped example of usual length.
constexpr int kMinimumWidth = 560;

QLabel *makeLabel(const char *name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QComboBox *makeList(const char *name, QWidget *parent)
{
    auto *list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setEditable(false);  // only entries of the list
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    list->setMinimumContentsLength(16);
    return list;
}

QLineEdit *makeEdit(const char *name, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

QPushButton *makeButton(const char *name, const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QGroupBox *makeGroup(const char *name, const QString &title, QWidget *parent)
{
    auto *group = new QGroupBox(title, parent);
    group->setObjectName(QString::fromLatin1(name));
    return group;
}

QGridLayout *formGrid(QWidget *group)
{
    auto *grid = new QGridLayout(group);
    grid->setContentsMargins(8, 6, 8, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    return grid;
}

// Groups stacked in one column show their lists at one left edge: each group's label
// column is as wide as the widest label of them all.
void alignLabelColumns(std::initializer_list<QWidget *> groups)
{
    int widest = 0;
    for (QWidget *group : groups)
        for (const QLabel *label : group->findChildren<QLabel *>())
            widest = std::max(widest, label->sizeHint().width());
    for (QWidget *group : groups)
        static_cast<QGridLayout *>(group->layout())->setColumnMinimumWidth(0, widest);
}

// The folder the chooser opens in: the save folder as recordings will use it ("~" expanded,
// '\\' a separator), or its nearest parent that exists, since a folder that is not there yet
// (it is made at the first recording) would have the chooser open somewhere else entirely.
QString chooserStartFolder(QString folder)
{
    folder = recording::expandHomeFolder(folder.replace(QLatin1Char('\\'), QLatin1Char('/')));
    if (folder.isEmpty())
        return QDir::homePath();
    QDir dir(QDir::cleanPath(QDir(folder).absolutePath()));
    while (!dir.exists() && !dir.isRoot())
        dir.setPath(QDir::cleanPath(dir.absoluteFilePath(QStringLiteral(".."))));
    return dir.absolutePath();
}

void setItems(QComboBox *list, const QStringList &items, int selected)
{
    const QSignalBlocker quiet(list);
    list->clear();
    list->addItems(items);
    list->setCurrentIndex(selected >= 0 && selected < list->count() ? selected : -1);
}

}  // namespace

const QList<int> &SettingsDialog::sampleRates()
{
    static const QList<int> rates{8000, 11025, 22050, 44100, 48000, 96000};
    return rates;
}

SettingsDialog::SettingsDialog(app::Recorder &recorder, QWidget *parent)
    : QDialog(parent), m_recorder(recorder), m_presets(recorder.readPresets())
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    setFont(QFont(core::look::windowFontFamily(), core::look::kWindowFontPoints));

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Button2"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    // Recording and playback on the left, the codec beside them, the save rules below both.
    QWidget *recording = buildRecordingGroup();
    QWidget *playback = buildPlaybackGroup();
    alignLabelColumns({recording, playback});
    auto *columns = new QGridLayout;
    columns->setSpacing(8);
    columns->addWidget(recording, 0, 0);
    columns->addWidget(playback, 1, 0);
    columns->addWidget(buildCodecGroup(), 0, 1, 2, 1);
    columns->addWidget(buildSaveGroup(), 2, 0, 1, 2);
    columns->setColumnStretch(0, 1);
    columns->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(8);
    layout->addLayout(columns);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &SettingsDialog::confirm);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    fill();
    const QSize hint = sizeHint();
    setFixedSize(std::max(hint.width(), kMinimumWidth), hint.height());
    if (parent)  // centred on the window that opened it
        move(parent->window()->frameGeometry().center() - rect().center());
}

QWidget *SettingsDialog::buildRecordingGroup()
{
    QGroupBox *group = makeGroup("GroupBox2", QStringLiteral("Recording"), this);
    m_recordingDevices = makeList("cbRecDev", group);
    m_inputs = makeList("cbSrc", group);
    m_sampleRate = makeList("cbRate", group);
    for (int rate : sampleRates())
        m_sampleRate->addItem(QStringLiteral("%1 Hz").arg(rate));

    QGridLayout *grid = formGrid(group);
    const std::pair<QLabel *, QComboBox *> rows[] = {
        {makeLabel("Label1", QStringLiteral("Device:"), group), m_recordingDevices},
        {makeLabel("Label2", QStringLiteral("Input:"), group), m_inputs},
        {makeLabel("Label3", QStringLiteral("Sample rate:"), group), m_sampleRate},
    };
    int row = 0;
    for (const auto &[label, list] : rows) {
        label->setBuddy(list);
        grid->addWidget(label, row, 0);
        grid->addWidget(list, row++, 1);
    }
    grid->setColumnStretch(1, 1);

    // The input list shows the inputs of the device chosen here. Another device than the
    // open one starts without a chosen input: its ports keep whichever is active.
    connect(m_recordingDevices, &QComboBox::currentIndexChanged, this, [this](int device) {
        fillInputs(device, device == m_recorder.settings().recDev ? m_recorder.settings().recSrc : -1);
    });
    return group;
}

QWidget *SettingsDialog::buildCodecGroup()
{
    QGroupBox *group = makeGroup("GroupBox1", QStringLiteral("Codec"), this);
    m_presetNames = makeList("cbcodec", group);
    m_presetNames->setMaxVisibleItems(kVisiblePresetRows);
    m_codecName = makeEdit("prsname", group);
    m_codecName->setMaxLength(kPresetNameBytes);
    m_codecCommand = makeEdit("prscomm", group);
    m_codecCommand->setMaxLength(kPresetCommandBytes);
    m_codecExt = makeEdit("prsext", group);
    m_codecExt->setMaxLength(kPresetExtBytes);
    m_codecExt->setToolTip(QStringLiteral("Extention"));
    auto *add = makeButton("Button8", QStringLiteral("Add"), group);
    auto *save = makeButton("Button6", QStringLiteral("Save"), group);
    auto *remove = makeButton("Button7", QStringLiteral("Del"), group);

    QGridLayout *grid = formGrid(group);
    grid->addWidget(m_presetNames, 0, 0, 1, 2);
    const std::pair<QLabel *, QLineEdit *> rows[] = {
        {makeLabel("Label4", QStringLiteral("Name:"), group), m_codecName},
        {makeLabel("Label5", QStringLiteral("Command:"), group), m_codecCommand},
        {makeLabel("Label6", QStringLiteral("Extention"), group), m_codecExt},
    };
    int row = 1;
    for (const auto &[label, edit] : rows) {
        label->setBuddy(edit);
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row++, 1);
    }
    auto *commands = new QHBoxLayout;
    commands->addStretch(1);
    commands->addWidget(add);
    commands->addWidget(save);
    commands->addWidget(remove);
    grid->addLayout(commands, row++, 0, 1, 2);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);

    connect(m_presetNames, &QComboBox::currentIndexChanged, this, &SettingsDialog::pickPreset);
    connect(add, &QPushButton::clicked, this, &SettingsDialog::addPreset);
    connect(save, &QPushButton::clicked, this, &SettingsDialog::savePreset);
    connect(remove, &QPushButton::clicked, this, &SettingsDialog::deletePreset);
    connect(m_codecExt, &QLineEdit::textChanged, this, &SettingsDialog::showExample);
    return group;
}

QWidget *SettingsDialog::buildSaveGroup()
{
    QGroupBox *group = makeGroup("GroupBox3", QStringLiteral("Save"), this);
    m_folder = makeEdit("edFolder", group);
    auto *browse = makeButton("btnFolder", QStringLiteral("..."), group);
    browse->setToolTip(QStringLiteral("Choose the folder"));
    browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 20);
    m_fileTemplate = makeEdit("edFile", group);
    auto *hint = makeLabel("Label10", QStringLiteral("(%y - year, %m - month, %d - day, %t - time)"), group);
    auto *exampleCaption = makeLabel("Label11", QStringLiteral("Example:"), group);
    QFont bold = exampleCaption->font();
    bold.setBold(true);
    exampleCaption->setFont(bold);
    m_example = makeLabel("Label8", QStringLiteral("---"), group);
    m_example->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long path must not widen the fixed dialog; the whole name is in the tooltip.
    m_example->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_storeDays = new QSpinBox(group);
    m_storeDays->setObjectName(QStringLiteral("edRecLt"));
    m_storeDays->setRange(core::limits::kStoreTimeMinDays, core::limits::kStoreTimeMaxDays);
    if (auto *daysText = m_storeDays->findChild<QLineEdit *>())
        daysText->setObjectName(QStringLiteral("Edit1"));

    QGridLayout *grid = formGrid(group);
    auto *folderLabel = makeLabel("Label7", QStringLiteral("Folder:"), group);
    folderLabel->setBuddy(m_folder);
    grid->addWidget(folderLabel, 0, 0);
    auto *folderRow = new QHBoxLayout;
    folderRow->setSpacing(4);
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(browse);
    grid->addLayout(folderRow, 0, 1, 1, 3);
    auto *fileLabel = makeLabel("Label9", QStringLiteral("Filename:"), group);
    fileLabel->setBuddy(m_fileTemplate);
    grid->addWidget(fileLabel, 1, 0);
    grid->addWidget(m_fileTemplate, 1, 1, 1, 3);
    grid->addWidget(hint, 2, 1, 1, 3);
    grid->addWidget(exampleCaption, 3, 0);
    grid->addWidget(m_example, 3, 1, 1, 3);
    auto *storeLabel = makeLabel("Label12", QStringLiteral("Store records:"), group);
    storeLabel->setBuddy(m_storeDays);
    grid->addWidget(storeLabel, 4, 0);
    grid->addWidget(m_storeDays, 4, 1);
    grid->addWidget(makeLabel("Label13", QStringLiteral("day(s)"), group), 4, 2);
    grid->setColumnStretch(3, 1);

    connect(m_folder, &QLineEdit::textChanged, this, &SettingsDialog::showExample);
    connect(m_fileTemplate, &QLineEdit::textChanged, this, &SettingsDialog::showExample);
    connect(browse, &QPushButton::clicked, this, &SettingsDialog::chooseFolder);
    return group;
}

QWidget *SettingsDialog::buildPlaybackGroup()
{
    QGroupBox *group = makeGroup("GroupBox4", QStringLiteral("Playback"), this);
    m_playbackDevices = makeList("cbMainDev", group);
    QGridLayout *grid = formGrid(group);
    auto *label = makeLabel("Label14", QStringLiteral("Device:"), group);
    label->setBuddy(m_playbackDevices);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_playbackDevices, 0, 1);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(1, 1);
    return group;
}

// The controls from the recorder's settings, its preset list and the sound server's lists.
void SettingsDialog::fill()
{
    const app::Settings &s = m_recorder.settings();
    audio::AudioBackend &sound = m_recorder.audio();
    setItems(m_playbackDevices, sound.playbackDevices(), s.playDev);
    // Without a server only "No sound" is listed; a device kept for later says so.
    if (m_playbackDevices->currentIndex() < 0 && s.playDev > 0)
        m_playbackDevices->setPlaceholderText(s.playDev == 1 ? QStringLiteral("Default")
                                                             : QStringLiteral("Device %1 (not connected)").arg(s.playDev));
    setItems(m_recordingDevices, sound.recordingDevices(), s.recDev);
    fillInputs(s.recDev, s.recSrc);

    fillPresetList();
    {
        const QSignalBlocker quiet(m_presetNames);
        m_presetNames->setCurrentIndex(m_presetNames->findText(s.codecName, Qt::MatchFixedString));
    }
    m_codecName->setText(s.codecName);
    m_codecCommand->setText(s.codecCmd);
    m_codecExt->setText(s.codecExt);

    {
        const QSignalBlocker quiet(m_sampleRate);
        m_sampleRate->setCurrentIndex(int(sampleRates().indexOf(s.sampleRate)));
    }
    m_folder->setText(s.saveFolder);
    m_fileTemplate->setText(s.saveFilename);
    m_storeDays->setValue(s.storeTime);
    showExample();
}

void SettingsDialog::fillInputs(int device, int selected)
{
    setItems(m_inputs, m_recorder.audio().recordingInputs(device), selected);
}

// The names in list order; the selected index stays when it is still in the list.
void SettingsDialog::fillPresetList()
{
    const int selected = m_presetNames->currentIndex();
    QStringList names;
    for (const CodecPreset &preset : m_presets.presets())
        names << preset.name;
    setItems(m_presetNames, names, selected);
}

// The name a recording started now would get: the recording's own naming rule.
void SettingsDialog::showExample()
{
    const QString example = recording::makeOutputFileName(m_folder->text(), m_fileTemplate->text(),
                                                          m_codecExt->text(), QDateTime::currentDateTime());
    m_example->setText(example);
    m_example->setToolTip(example);
}

void SettingsDialog::chooseFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, m_recorder.strings().chooseFolderTitle, chooserStartFolder(m_folder->text()));
    if (!folder.isEmpty())
        m_folder->setText(folder);
}

// The picked preset becomes the current codec at once, even if the dialog is cancelled.
void SettingsDialog::pickPreset(int index)
{
    if (index < 0 || index >= m_presets.count())
        return;
    const CodecPreset &preset = m_presets.presets().at(index);
    m_codecName->setText(preset.name);
    m_codecCommand->setText(preset.command);
    m_codecExt->setText(preset.ext);
    m_recorder.setCodec(preset);
}

CodecPreset SettingsDialog::codecFields() const
{
    return CodecPreset::make(m_codecName->text(), m_codecCommand->text(), m_codecExt->text());
}

void SettingsDialog::addPreset()
{
    QString why;
    if (!m_presets.add(codecFields(), &why)) {
        qCWarning(lcSettings).noquote() << why;
        QMessageBox::warning(this, windowTitle(), why);
        return;
    }
    fillPresetList();
}

void SettingsDialog::savePreset()
{
    m_presets.save(m_presetNames->currentIndex(), codecFields());
    fillPresetList();
}

// The preset that moves up takes the removed one's place in the selection; the fields
// keep showing the removed preset, so that a wrong Del can be undone with Add.
void SettingsDialog::deletePreset()
{
    // The list is filled with the same index selected, which is the next preset or none.
    m_presets.remove(m_presetNames->currentIndex());
    fillPresetList();
}

app::Settings SettingsDialog::settingsFromControls() const
{
    app::Settings s = m_recorder.settings();
    s.recDev = m_recordingDevices->currentIndex();
    s.recSrc = m_inputs->currentIndex();
    const int rateIndex = m_sampleRate->currentIndex();
    s.sampleRate = rateIndex >= 0 ? sampleRates().at(rateIndex) : core::limits::kDefaultSampleRate;
    const CodecPreset codec = codecFields();
    s.codecName = codec.name;
    s.codecCmd = codec.command;
    s.codecExt = codec.ext;
    s.saveFolder = m_folder->text();
    s.saveFilename = m_fileTemplate->text();
    // A device that is not there now (unplugged) stays chosen until the user picks another:
    // it plays on the default device meanwhile and on itself again once it is back.
    if (m_playbackDevices->currentIndex() >= 0)
        s.playDev = m_playbackDevices->currentIndex();
    s.storeTime = m_storeDays->value();
    return s;
}

// The preset file first: when it cannot be written nothing else is applied, and the
// dialog stays open so that the user can mend the cause and try again, or cancel.
void SettingsDialog::confirm()
{
    QString error;
    if (!m_recorder.savePresets(m_presets.presets(), &error)) {
        auto *box = new QMessageBox(QMessageBox::Critical, windowTitle(), error, QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("presetWriteFailure"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->exec();
        return;
    }
    m_recorder.applySettings(settingsFromControls());
    accept();
}

}  // namespace settings
