// Construction of the take-snapshot window's controls and menus. The
// handlers live in TakeSnapshotWindow.cpp and TakeSnapshotWindowRun.cpp.

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStorageInfo>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/FileDialogs.h"
#include "ui/TakeSnapshotWindow.h"
#include "ui/Twips.h"

namespace corvina {

namespace {

QLineEdit* CounterBox(const char* name, QWidget* parent) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setAlignment(Qt::AlignRight);
    box->setMinimumWidth(90);
    return box;
}

QLabel* NamedLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

}  // namespace

void TakeSnapshotWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("menfilet");
    menopen_ = file->addAction("&Open Snapshot Database");
    menopen_->setObjectName("menopen");
    QAction* server = file->addAction("Open Se&rver Database...");
    server->setObjectName("menserver");
    file->addSeparator()->setObjectName("line1");
    menrec_ = AddRecentItems(*file);
    file->addSeparator()->setObjectName("line2");
    QAction* exitItem = file->addAction("E&xit");
    exitItem->setObjectName("menexit");
    // A top-level item that acts when clicked, without a drop-down.
    menanal_ = menuBar()->addAction("&Analyse");
    menanal_->setObjectName("menanal");

    connect(menopen_, &QAction::triggered, this, &TakeSnapshotWindow::OnOpenDatabase);
    connect(server, &QAction::triggered, this, [this]() {
        if (RefuseWhileRunning()) return;
        ChooseServerDatabase(this, context_.Dialogs, context_.Messages, context_.Database.DatabasePath,
                           [this](const std::string& location) { SwitchDatabase(location); });
    });
    for (std::size_t i = 0; i < menrec_.size(); ++i) {
        connect(menrec_[i], &QAction::triggered, this, [this, i]() { OnRecentItem(static_cast<int>(i)); });
    }
    connect(exitItem, &QAction::triggered, this, &TakeSnapshotWindow::OnExit);
    connect(menanal_, &QAction::triggered, this, &TakeSnapshotWindow::OnAnalyse);
}

QWidget* TakeSnapshotWindow::BuildChoiceColumn() {
    auto* column = new QWidget(this);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* intro = NamedLabel("Label6", "Select below the directory /  path you wish to analyse", column);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    drvmain_ = new QComboBox(column);
    drvmain_->setObjectName("drvmain");
    layout->addWidget(drvmain_);

    directories_ = new QFileSystemModel(this);
    directories_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    directories_->setRootPath(QDir::rootPath());
    dirmain_ = new QTreeView(column);
    dirmain_->setObjectName("dirmain");
    dirmain_->setModel(directories_);
    for (int c = 1; c < directories_->columnCount(); ++c) dirmain_->hideColumn(c);
    dirmain_->setHeaderHidden(true);
    dirmain_->setMinimumWidth(TwipsToPixels(2655, *this));
    dirmain_->setMinimumHeight(TwipsToPixels(2500, *this));
    layout->addWidget(dirmain_, 1);
    // Below the tree, beside the choice it refines: the tree, which may
    // shrink, gives up the height, so the window grows by a line at most.
    layout->addWidget(BuildExclusionFrame());
    return column;
}

QGroupBox* TakeSnapshotWindow::BuildCollectFrame() {
    auto* frame = new QGroupBox("Collect information on individual files?", this);
    frame->setObjectName("Frame1");
    auto* layout = new QVBoxLayout(frame);

    optsel_ = new QButtonGroup(frame);
    auto* choice = new QHBoxLayout;
    const char* selNames[] = {"optsel_0", "optsel_1"};
    const char* selTexts[] = {"No", "Yes"};
    for (int i = 0; i < 2; ++i) {
        auto* option = new QRadioButton(selTexts[i], frame);
        option->setObjectName(selNames[i]);
        optsel_->addButton(option, i);
        choice->addWidget(option);
    }
    choice->addStretch();
    optsel_->button(0)->setChecked(true);
    layout->addLayout(choice);

    lblsmall_ = NamedLabel("lblsmall", "Only on files larger than", frame);
    layout->addWidget(lblsmall_);
    auto* number = new QHBoxLayout;
    number->setSpacing(0);
    txtsmall_ = new QLineEdit(frame);
    txtsmall_->setObjectName("txtsmall");
    txtsmall_->setMaximumWidth(TwipsToPixels(1500, *this));
    scrollsmall_ = new QScrollBar(Qt::Vertical, frame);
    scrollsmall_->setObjectName("Scrollsmall");
    scrollsmall_->setRange(-32000, 0);
    scrollsmall_->setSingleStep(1);
    scrollsmall_->setPageStep(1);
    scrollsmall_->setValue(0);
    scrollsmall_->setFixedHeight(txtsmall_->sizeHint().height());
    number->addWidget(txtsmall_);
    number->addWidget(scrollsmall_);
    number->addStretch();
    layout->addLayout(number);

    frmbytes_ = new QGroupBox(frame);
    frmbytes_->setObjectName("frmbytes");
    auto* units = new QHBoxLayout(frmbytes_);
    opttype_ = new QButtonGroup(frmbytes_);
    const char* unitNames[] = {"opttype_0", "opttype_1", "opttype_2"};
    const char* unitTexts[] = {"bytes", "KB", "MB"};
    for (int i = 0; i < 3; ++i) {
        auto* option = new QRadioButton(unitTexts[i], frmbytes_);
        option->setObjectName(unitNames[i]);
        opttype_->addButton(option, i);
        units->addWidget(option);
    }
    opttype_->button(0)->setChecked(true);
    layout->addWidget(frmbytes_);

    lbltsmall_ = NamedLabel("lbltsmall", QString(), frame);
    lbltsmall_->setWordWrap(true);
    layout->addWidget(lbltsmall_);
    layout->addStretch();
    return frame;
}

QGroupBox* TakeSnapshotWindow::BuildExclusionFrame() {
    auto* frame = new QGroupBox("Leave out", this);
    frame->setObjectName("frmexcl");
    frame->setToolTip("A pattern without a / leaves out the names it matches at any depth;\n"
                      "one with a / the path below the chosen directory it matches.\n"
                      "* and ? stand for any characters, [...] for one of them.");
    auto* layout = new QVBoxLayout(frame);
    auto* label = NamedLabel("lblexcl", "Names or paths, one pattern a line (*.o, build/tmp)", frame);
    label->setWordWrap(true);
    layout->addWidget(label);
    txtexcl_ = new QPlainTextEdit(frame);
    txtexcl_->setObjectName("txtexcl");
    txtexcl_->setTabChangesFocus(true);
    // A name is rarely longer than the box: lines are scrolled, not wrapped,
    // so that each line stays one pattern to the eye.
    txtexcl_->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtexcl_->setFixedHeight(TwipsToPixels(900, *this));
    layout->addWidget(txtexcl_);
    chkcache_ = new QCheckBox("Cache directories (CACHEDIR.TAG)", frame);
    chkcache_->setObjectName("chkcache");
    layout->addWidget(chkcache_);
    return frame;
}

QWidget* TakeSnapshotWindow::BuildCounterFrames() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* collected = new QGroupBox("Directory Info Collected", row);
    collected->setObjectName("frmcol");
    auto* form = new QFormLayout(collected);
    txtdirs_ = CounterBox("txtdirs", collected);
    txtfiles_ = CounterBox("txtfiles", collected);
    txtbytes_ = CounterBox("txtbytes", collected);
    form->addRow(NamedLabel("Label1", "Directories", collected), txtdirs_);
    form->addRow(NamedLabel("Label3", "Files", collected), txtfiles_);
    form->addRow(NamedLabel("Label4", "Bytes", collected), txtbytes_);

    auto* files = new QGroupBox("File Info Collected", row);
    files->setObjectName("Directories");
    auto* fileForm = new QFormLayout(files);
    txtaddedfile_ = CounterBox("txtaddedfile", files);
    txtaddedsize_ = CounterBox("txtaddedsize", files);
    fileForm->addRow(NamedLabel("Label7", "Files", files), txtaddedfile_);
    fileForm->addRow(NamedLabel("Bytes", "Bytes", files), txtaddedsize_);

    layout->addWidget(collected);
    layout->addWidget(files);
    return row;
}

void TakeSnapshotWindow::FillDriveList() {
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady()) roots << volume.rootPath();
    }
    roots.removeDuplicates();
    std::sort(roots.begin(), roots.end());
    if (!roots.contains(QDir::rootPath())) roots.prepend(QDir::rootPath());
    const QSignalBlocker quiet(drvmain_);
    drvmain_->addItems(roots);
    drvmain_->setCurrentIndex(static_cast<int>(roots.indexOf(QDir::rootPath())));
}

}  // namespace corvina
