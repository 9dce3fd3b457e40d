// The take-snapshot window: construction, input handlers, database switching
// and ending. Every message goes through the context's prompter; nothing here
// shows a message box of its own.

#include "ui/TakeSnapshotWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QAbstractSpinBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextEdit>
#include <QTreeView>

#include "app/Settings.h"
#include "base/PathStyle.h"
#include "base/Prompter.h"
#include "app/OpenDialogue.h"
#include "store/SnapshotDatabase.h"
#include "ui/DatabaseSwitch.h"
#include "ui/DebugWindow.h"
#include "ui/FileDialogs.h"
#include "ui/SnapshotRunner.h"
#include "ui/ScreenPlacement.h"
#include "ui/Twips.h"

namespace corvina {

TakeSnapshotWindow::TakeSnapshotWindow(ProgramContext& context, QWidget* parent)
    : QMainWindow(parent),
      messages_(context.Messages, this),
      context_(WithMessages(context, messages_)),
      runner_(std::make_unique<SnapshotRunner>()) {
    setObjectName("Analsnap");
    setWindowTitle("Take Disk Snapshot");
    BuildMenus();

    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    grid->addWidget(BuildChoiceColumn(), 0, 0, 3, 1);
    grid->addWidget(NamedDescriptionLabel(), 0, 1);
    txtdesc_ = new QPlainTextEdit(central);
    txtdesc_->setObjectName("txtdesc");
    txtdesc_->setTabChangesFocus(true);
    txtdesc_->setFixedHeight(TwipsToPixels(900, *this));
    grid->addWidget(txtdesc_, 1, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(BuildCollectFrame());
    // A taller window lengthens the folder tree; the frames keep their heights.
    right->addStretch(1);
    right->addWidget(BuildCounterFrames());
    grid->addLayout(right, 2, 1);

    auto* pathLabel = new QLabel("Path", central);
    pathLabel->setObjectName("lblpath");
    grid->addWidget(pathLabel, 3, 0);
    txtpath_ = new QLineEdit(central);
    txtpath_->setObjectName("txtpath");
    grid->addWidget(txtpath_, 4, 0);
    auto* buttons = new QHBoxLayout;
    comsnap_ = new QPushButton("Take Snapshot", central);
    comsnap_->setObjectName("comsnap");
    comhalt_ = new QPushButton("Abort Snapshot ", central);
    comhalt_->setObjectName("comhalt");
    buttons->addStretch();
    buttons->addWidget(comsnap_);
    buttons->addWidget(comhalt_);
    grid->addLayout(buttons, 4, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);
    setCentralWidget(central);

    statusBar()->setObjectName("stat1");
    statusBar()->setSizeGripEnabled(false);
    status_ = new QLabel(statusBar());
    status_->setObjectName("stat1_text");
    status_->setTextFormat(Qt::PlainText);
    // A long path must not widen the window: the text is cut, the tooltip has it whole.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(status_, 1);

    FillDriveList();
    // What the last run left out is what the next one leaves out, until changed.
    const ExclusionSettings kept = ReadExclusionSettings(context_.Settings);
    txtexcl_->setPlainText(QString::fromStdString(kept.Patterns));
    chkcache_->setChecked(kept.Caches);
    ConnectControls();
    dirmain_->expand(directories_->index(QDir::rootPath()));
    resize(std::max(TwipsToPixels(8655, *this), sizeHint().width()),
           std::max(TwipsToPixels(7590, *this), sizeHint().height()));
    KeepOpeningOnScreen(*this);

    // Load: collection off, threshold 0, the database in the status bar.
    OnCollectChosen(0);
    txtsmall_->setText("0");
    collectFiles_ = false;
    sizeThreshold_ = 0;
    OnThresholdChanged();
    SetStatus(DatabaseStatusText(context_.Database));
    RefreshRecentMenu();
    // The window sees every key before the focused control does.
    qApp->installEventFilter(this);
}

TakeSnapshotWindow::~TakeSnapshotWindow() {
    qApp->removeEventFilter(this);
    // The worker reads the run control and reports to this window: stop it
    // while both are still whole.
    runner_->Shutdown();
    if (busyPointer_) QApplication::restoreOverrideCursor();
}

QLabel* TakeSnapshotWindow::NamedDescriptionLabel() {
    auto* label = new QLabel("Enter a description of your snapshot", this);
    label->setObjectName("Label2");
    return label;
}

void TakeSnapshotWindow::ConnectControls() {
    connect(drvmain_, &QComboBox::currentIndexChanged, this, &TakeSnapshotWindow::OnDriveChanged);
    connect(dirmain_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) OnDirectoryChanged(directories_->filePath(current));
            });
    // The list loads folders in the background; rows inserted above the
    // chosen directory would push it out of view.
    connect(directories_, &QFileSystemModel::directoryLoaded, this, [this](const QString& loaded) {
        if (scrollTarget_.isEmpty()) return;
        const bool onTheWay = loaded == scrollTarget_ || loaded == QDir::rootPath() ||
                              scrollTarget_.startsWith(loaded + QDir::separator());
        if (!onTheWay) {
            // The user has moved on to other folders: stop pulling the view back.
            scrollTarget_.clear();
            return;
        }
        dirmain_->scrollTo(directories_->index(scrollTarget_));
        if (loaded == QFileInfo(scrollTarget_).path()) scrollTarget_.clear();
    });
    connect(optsel_, &QButtonGroup::idClicked, this, &TakeSnapshotWindow::OnCollectChosen);
    connect(opttype_, &QButtonGroup::idClicked, this, [this](int) { OnThresholdChanged(); });
    connect(scrollsmall_, &QScrollBar::valueChanged, this, &TakeSnapshotWindow::OnScrollChanged);
    connect(txtsmall_, &QLineEdit::textChanged, this, [this]() { OnThresholdChanged(); });
    connect(txtexcl_, &QPlainTextEdit::textChanged, this, &TakeSnapshotWindow::OnExclusionsChanged);
    connect(chkcache_, &QCheckBox::toggled, this, &TakeSnapshotWindow::OnExclusionsChanged);
    connect(comsnap_, &QPushButton::clicked, this, &TakeSnapshotWindow::OnTakeSnapshot);
    connect(comhalt_, &QPushButton::clicked, this, [this]() { control_.AbortFlag = true; });
    connect(runner_.get(), &SnapshotRunner::StatusChanged, this, &TakeSnapshotWindow::OnRunStatus);
    connect(runner_.get(), &SnapshotRunner::CountersChanged, this, &TakeSnapshotWindow::OnRunCounters);
    connect(runner_.get(), &SnapshotRunner::DebugStopReached, this, &TakeSnapshotWindow::OnDebugStop);
    connect(runner_.get(), &SnapshotRunner::Finished, this, &TakeSnapshotWindow::OnRunFinished);
}

QString TakeSnapshotWindow::StatusText() const { return status_->text(); }

void TakeSnapshotWindow::SetStatus(const QString& text) {
    status_->setText(text);
    status_->setToolTip(text);
}

bool TakeSnapshotWindow::IsRunning() const { return runner_->IsRunning(); }

void TakeSnapshotWindow::OnDriveChanged(int index) {
    const QString drive = drvmain_->itemText(index);
    const QDir root(drive);
    if (!root.exists() || !root.isReadable()) {
        ShowMessage(context_.Messages, "Device " + drive.toStdString() + " unavailable");
        return;
    }
    SetDirectoryPath(drive);
}

void TakeSnapshotWindow::SetDirectoryPath(const QString& path) {
    const QModelIndex index = directories_->index(path);
    if (!index.isValid()) return;
    // Its subdirectories are the next choices, as in a directory list.
    dirmain_->expand(index);
    dirmain_->scrollTo(index);
    scrollTarget_ = directories_->filePath(index);
    // setCurrentIndex is silent when the index is current already.
    if (dirmain_->currentIndex() == index) {
        OnDirectoryChanged(directories_->filePath(index));
    } else {
        dirmain_->setCurrentIndex(index);
    }
}

void TakeSnapshotWindow::OnDirectoryChanged(const QString& path) {
    txtpath_->setText(path);
    baseLevel_ = BaseLevelOf(path.trimmed().toStdString(), kNativePathStyle);
    txtdesc_->setPlainText(QString::fromStdString(DefaultDescription(path.toStdString(), DateTime::Now())));
}

void TakeSnapshotWindow::OnCollectChosen(int index) {
    const bool on = index == 1;
    lblsmall_->setEnabled(on);
    txtsmall_->setEnabled(on);
    frmbytes_->setEnabled(on);
    lbltsmall_->setEnabled(on);
    collectFiles_ = on;
}

void TakeSnapshotWindow::OnScrollChanged(int value) { txtsmall_->setText(QString::number(-value)); }

ExclusionSettings TakeSnapshotWindow::Exclusions() const {
    return {txtexcl_->toPlainText().toStdString(), chkcache_->isChecked()};
}

// Kept as they change, not at a run: a choice made and the window closed
// without a run is still there next time.
void TakeSnapshotWindow::OnExclusionsChanged() { WriteExclusionSettings(context_.Settings, Exclusions()); }

void TakeSnapshotWindow::OnThresholdChanged() {
    const auto unit = static_cast<SizeUnit>(std::max(0, opttype_->checkedId()));
    const std::optional<std::int64_t> threshold = ComputeSizeThreshold(txtsmall_->text(), unit);
    if (threshold) {
        sizeThreshold_ = *threshold;
        lbltsmall_->setText(QString("%1 bytes").arg(static_cast<qlonglong>(sizeThreshold_)));
    } else {
        // Said in the label rather than a message box: the text is still being typed.
        lbltsmall_->setText(QString("Not a valid size: still %1 bytes").arg(static_cast<qlonglong>(sizeThreshold_)));
    }
}

namespace {

bool AcceptsTyping(const QObject* control) {
    if (const auto* line = qobject_cast<const QLineEdit*>(control)) return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(control)) return !text->isReadOnly();
    if (const auto* rich = qobject_cast<const QTextEdit*>(control)) return !rich->isReadOnly();
    if (const auto* spin = qobject_cast<const QAbstractSpinBox*>(control)) return !spin->isReadOnly();
    if (const auto* combo = qobject_cast<const QComboBox*>(control)) return combo->isEditable();
    return false;
}

}  // namespace

bool TakeSnapshotWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        lastKeyPress_ = nullptr;
        return false;
    }
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    if (static_cast<QWidget*>(watched)->window() != this) return false;
    // A key press a control ignores travels up to its parents as the same
    // event; only its first delivery counts. Every press ends with a release.
    if (event == lastKeyPress_) return false;
    lastKeyPress_ = event;
    // In a text box "d" is a letter: a message box popping up there would
    // take the keys typed after it. Elsewhere the key is the toggle and goes
    // no further: the directory tree's type-ahead would otherwise jump to a
    // folder starting with "d" and change the path to be snapshotted.
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->text() != "d" || key->modifiers() != Qt::NoModifier || AcceptsTyping(watched)) return false;
    ToggleDebugMode();
    return true;
}

void TakeSnapshotWindow::ToggleDebugMode() {
    if (control_.DebugMode) {
        ShowMessage(context_.Messages, "Debug mode has been switched off");
        control_.DebugMode = false;
    } else {
        ShowMessage(context_.Messages, "Debug mode has been set");
        control_.DebugMode = true;
    }
}

void TakeSnapshotWindow::RefreshRecentMenu() { corvina::RefreshRecentMenu(context_.Settings, menrec_); }

bool TakeSnapshotWindow::RefuseWhileRunning() {
    if (!IsRunning()) return false;
    ShowMessage(context_.Messages, "A snapshot is being taken. Wait until it has ended, or abort it first.");
    return true;
}

void TakeSnapshotWindow::OnOpenDatabase() {
    if (RefuseWhileRunning()) return;
    FileDialogRequest request;
    request.Title = "Select Snapshot Database";
    request.InitialPath = QString::fromStdString(context_.Database.DatabasePath);
    request.Filter = "Corvina Files (*.mdb)";
    request.DefaultSuffix = "mdb";
    const std::optional<QString> chosen = context_.Dialogs.ChooseOpenFile(this, request);
    if (!chosen) return;
    SwitchDatabase(chosen->toStdString());
}

void TakeSnapshotWindow::OnRecentItem(int index) {
    if (RefuseWhileRunning()) return;
    const QString caption = menrec_[static_cast<std::size_t>(index)]->text();
    SwitchDatabase(PathFromRecentCaption(caption.toStdString()));
}

void TakeSnapshotWindow::SwitchDatabase(const std::string& path) {
    if (corvina::SwitchDatabase(context_, path) == SwitchOutcome::Ended) return;
    // Named after the open, which keeps a server's password out of the path.
    SetStatus(DatabaseStatusText(context_.Database));
    RefreshRecentMenu();
}

void TakeSnapshotWindow::OnExit() {
    if (IsRunning()) {
        if (!AskYesNo(context_.Messages, "A snapshot is being taken. Abort it and end the program?")) return;
        // The run may have ended while the question was open: then no end of
        // a run is left to wait for.
        if (IsRunning()) {
            AbortRun();
            exitAfterRun_ = true;
            return;
        }
    }
    hide();
    CloseSnapshotDatabase(context_.Database);
    context_.Ender.EndProgram(0);
}

void TakeSnapshotWindow::OnAnalyse() {
    if (RefuseWhileRunning()) return;
    if (!analysisOpener_) {
        ShowMessage(context_.Messages, "The analysis window is not available in this version.");
        return;
    }
    if (!context_.Database.DatabaseOpen && !context_.Database.DatabasePath.empty()) {
        if (OpenSnapshotDatabase(context_.Database, context_.Messages, context_.Ender) == OpenOutcome::Ended) return;
    }
    hide();
    analysisOpener_();
}

void TakeSnapshotWindow::AbortRun() {
    control_.AbortFlag = true;
    // A worker waiting at a debug stop would never see the flag.
    if (debug_ != nullptr && debug_->isVisible()) debug_->AbortStop();
}

void TakeSnapshotWindow::closeEvent(QCloseEvent* event) {
    if (!IsRunning()) {
        event->accept();
        return;
    }
    event->ignore();
    if (closeAfterRun_) return;
    if (!AskYesNo(context_.Messages, "A snapshot is being taken. Abort it and close the window?")) return;
    if (!IsRunning()) {
        // The run ended while the question was open: nothing is left to abort.
        event->accept();
        return;
    }
    // The window closes when the worker has wound up and rolled the run back.
    AbortRun();
    closeAfterRun_ = true;
}

}  // namespace corvina
