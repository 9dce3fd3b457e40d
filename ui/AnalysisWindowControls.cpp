// Construction of the analysis window's menus and controls. The handlers live
// in AnalysisWindow.cpp, the pane geometry in AnalysisWindowPanes.cpp.

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>

#include "analysis/AnalysisCatalogue.h"
#include "ui/AnalysisWindow.h"
#include "ui/ChartWidget.h"
#include "ui/DirectoryTreeModel.h"
#include "ui/ResultExport.h"
#include "ui/ResultGridView.h"
#include "ui/Twips.h"

namespace corvina {

namespace {

QAction* NamedAction(QMenu& menu, const char* name, const QString& caption) {
    QAction* action = menu.addAction(caption);
    action->setObjectName(name);
    return action;
}

QString IndexedName(const char* name, std::size_t index) { return QString("%1_%2").arg(name).arg(index); }

// A check-marked item of an item array, named name_index.
template <std::size_t N>
void AddItems(QMenu& menu, const char* name, const std::array<const char*, N>& captions,
              std::array<QAction*, N>& items) {
    for (std::size_t i = 0; i < N; ++i) {
        items[i] = menu.addAction(captions[i]);
        items[i]->setObjectName(IndexedName(name, i));
        items[i]->setCheckable(true);
    }
}

void Place(QWidget& widget, const QWidget& window, int left, int top, int width, int height) {
    widget.setGeometry(TwipsToPixels(left, window), TwipsToPixels(top, window), TwipsToPixels(width, window),
                       TwipsToPixels(height, window));
}

QGroupBox* Frame(const char* name, QWidget& area) {
    auto* frame = new QGroupBox(&area);
    frame->setObjectName(name);
    // Moves without a button held reach the frame, so its edge strips can
    // show the sizing pointer.
    frame->setMouseTracking(true);
    return frame;
}

}  // namespace

void AnalysisWindow::BuildMenus() {
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu("&File");
    file->setObjectName("menfileexit");
    // The database is switched in the selection window; these stay hidden here.
    NamedAction(*file, "menopen", "&Open snapshot database")->setVisible(false);
    QAction* line1 = file->addSeparator();
    line1->setObjectName("line1");
    line1->setVisible(false);
    for (std::size_t i = 0; i < 10; ++i) {
        QAction* item = file->addAction(i == 0 ? QString("recent1") : QString::number(i + 1));
        item->setObjectName(IndexedName("menrec", i));
        item->setVisible(false);
    }
    QAction* line2 = file->addSeparator();
    line2->setObjectName("line2");
    line2->setVisible(false);
    QAction* exportItem = NamedAction(*file, "menexport", "&Export Grid…");
    QAction* chartItem = NamedAction(*file, "mensavechart", "Save &Chart As…");
    file->addSeparator();
    QAction* exitItem = NamedAction(*file, "menexit", "E&xit");

    bar->addAction("&Print")->setObjectName("menprint");
    QMenu* sort = bar->addMenu("&Sort");
    sort->setObjectName("mensort");
    NamedAction(*sort, "mensort2", "Click on a column header to sort ");

    QMenu* dirs = bar->addMenu("Analyse &Directories");
    dirs->setObjectName("menviewh");
    menfilet_ = bar->addMenu("Analyse &Files");
    menfilet_->setObjectName("menfilet");
    AddAnalysisItems(*dirs, *menfilet_);
    dirs->addSeparator();
    menfollow_ = NamedAction(*dirs, "menfollow", "&Follow the growth");
    menfollow_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    mentrend_ = NamedAction(*dirs, "mentrend", "Directory &Trend");
    mentrend_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    mentrend_->setEnabled(false);

    QMenu* pref = bar->addMenu("Preferences");
    pref->setObjectName("menpref");
    QMenu* sizes = pref->addMenu("Display &sizes in");
    sizes->setObjectName("dispsizt");
    AddItems<3>(*sizes, "dispsize", {"Bytes", "Kilo Bytes", "Mega Bytes"}, dispsize_);
    // Beside the unit, what the sizes count.
    sizes->addSeparator();
    AddItems<2>(*sizes, "dispbasis", {"&Apparent size", "Size on &disk"}, dispbasis_);
    QMenu* types = pref->addMenu("Chart &Type");
    types->setObjectName("mencharttype");
    AddItems<4>(*types, "menctype", {"2D Bar Chart", "3D Bar Chart", "2D Pie Chart", "3D Pie Chart"}, menctype_);
    QMenu* orientation = pref->addMenu("Chart &Orientation");
    orientation->setObjectName("chartor");
    AddItems<2>(*orientation, "mencvert", {"&Vertical", "&Horizontal"}, mencvert_);

    menswap_ = bar->addAction("&Swap");
    menswap_->setObjectName("menswap");
    QAction* take = bar->addAction("&Take Snaphot");
    take->setObjectName("mentake");
    QMenu* help = bar->addMenu("&Help");
    help->setObjectName("menhelpt");
    QAction* about = NamedAction(*help, "menabout", "&About");

    for (std::size_t i = 0; i < dispsize_.size(); ++i) {
        connect(dispsize_[i], &QAction::triggered, this, [this, i]() { ChooseDisplayUnit(static_cast<int>(i)); });
    }
    for (std::size_t i = 0; i < dispbasis_.size(); ++i) {
        connect(dispbasis_[i], &QAction::triggered, this, [this, i]() { ChooseSizeBasis(static_cast<int>(i)); });
    }
    for (std::size_t i = 0; i < menctype_.size(); ++i) {
        connect(menctype_[i], &QAction::triggered, this, [this, i]() { ChooseChartType(static_cast<int>(i)); });
    }
    for (std::size_t i = 0; i < mencvert_.size(); ++i) {
        connect(mencvert_[i], &QAction::triggered, this,
                [this, i]() { ChooseChartOrientation(static_cast<int>(i)); });
    }
    connect(menswap_, &QAction::triggered, this, &AnalysisWindow::Swap);
    connect(menfollow_, &QAction::triggered, this, &AnalysisWindow::FollowTheGrowth);
    connect(mentrend_, &QAction::triggered, this, &AnalysisWindow::ShowTrend);
    connect(take, &QAction::triggered, this, &AnalysisWindow::TakeSnapshot);
    connect(exportItem, &QAction::triggered, this,
            [this]() { ExportGrid(*this, context_.Dialogs, messages_, shownTitle_, session_); });
    connect(chartItem, &QAction::triggered, this,
            [this]() {
                SaveChartImage(*grpdisp_, QString::fromStdString(grpdisp_->Chart().Title), context_.Dialogs, messages_);
            });
    connect(exitItem, &QAction::triggered, this, &AnalysisWindow::Exit);
    connect(about, &QAction::triggered, this, &AnalysisWindow::About);
}

// One check-marked item per kind, in the menu its row names, in table order;
// each is named by its place in that menu (mendir_0, menfile_0, ...).
void AnalysisWindow::AddAnalysisItems(QMenu& directories, QMenu& files) {
    std::size_t directoryItems = 0;
    std::size_t fileItems = 0;
    for (const AnalysisEntry& entry : AnalysisCatalogue()) {
        const bool inFiles = entry.Menu == AnalysisMenu::Files;
        QAction* item = (inFiles ? files : directories)
                            .addAction(QString::fromUtf8(entry.MenuCaption.data(),
                                                         static_cast<qsizetype>(entry.MenuCaption.size())));
        item->setObjectName(inFiles ? IndexedName("menfile", fileItems++) : IndexedName("mendir", directoryItems++));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, kind = entry.Kind]() { ChooseAnalysis(kind); });
        analysisItems_.push_back(item);
    }
}

void AnalysisWindow::BuildSnapshotRows(QWidget& area) {
    // The two rows sit in the band above the panes; a grid keeps the labels
    // whole and the fields aligned whatever the font.
    auto* rows = new QWidget(&area);
    rows->setObjectName("snapshotrows");
    Place(*rows, area, 60, 60, 11820, 840);
    auto* grid = new QGridLayout(rows);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(TwipsToPixels(60, area));
    auto label = [&](const char* name, const char* text, int row, int column) {
        auto* l = new QLabel(text, rows);
        l->setObjectName(name);
        grid->addWidget(l, row, column);
    };
    auto field = [&](const char* name, int row, int column, int minimumTwips) {
        auto* f = new QLineEdit(rows);
        f->setObjectName(name);
        f->setReadOnly(true);
        f->setFocusPolicy(Qt::NoFocus);
        QPalette face = f->palette();
        face.setColor(QPalette::Base, face.color(QPalette::Button));
        f->setPalette(face);
        f->setMinimumWidth(std::max(TwipsToPixels(minimumTwips, area),
                                    minimumTwips == 0 ? 0 : f->fontMetrics().horizontalAdvance("0000-00-00 00:00:00") + 12));
        grid->addWidget(f, row, column);
        return f;
    };
    label("lbltsnap", "Analyse", 0, 0);
    txtpath_ = field("txtpath", 0, 1, 0);
    txtpath_->setMinimumWidth(TwipsToPixels(1695, area));
    label("lbltpath", "taken at", 0, 2);
    txtsnap_ = field("txtsnap", 0, 3, 1815);
    label("lbltdesc", "description", 0, 4);
    txtdesc_ = field("txtdesc", 0, 5, 0);
    comsnap_ = new QPushButton("Select", rows);
    comsnap_->setObjectName("comsnap");
    grid->addWidget(comsnap_, 0, 6);

    label("lblsnap2", "Compare to", 1, 0);
    label("Label1", "taken at", 1, 2);
    txtsnap2_ = field("txtsnap2", 1, 3, 1815);
    label("Label2", "description", 1, 4);
    txtdesc2_ = field("txtdesc2", 1, 5, 0);
    comsnap2_ = new QPushButton("Select", rows);
    comsnap2_->setObjectName("comsnap2");
    grid->addWidget(comsnap2_, 1, 6);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(5, 2);

    connect(comsnap_, &QPushButton::clicked, this, &AnalysisWindow::ChoosePrimeSnapshot);
    connect(comsnap2_, &QPushButton::clicked, this, &AnalysisWindow::ChooseCompareSnapshot);
}

void AnalysisWindow::BuildPanes(QWidget& area) {
    frmnode_ = Frame("frmnode", area);
    tree_ = new DirectoryTreeModel(context_.Database, context_.Messages, this);
    tvdir_ = new QTreeView(frmnode_);
    tvdir_->setObjectName("tvdir");
    tvdir_->setModel(tree_);
    tvdir_->setHeaderHidden(true);
    tvdir_->setUniformRowHeights(true);
    tvdir_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Names as long as the pane is wide scroll sideways instead of being cut.
    tvdir_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tvdir_->header()->setStretchLastSection(false);
    tvdir_->setColumnHidden(1, true);  // the growth column, shown with a compare snapshot
    connect(tvdir_, &QTreeView::clicked, this, &AnalysisWindow::NodeClicked);
    // A node made current by the keyboard is analysed as a click would be,
    // once the keys have rested: a held arrow key passes many nodes and each
    // run reads the database. A mouse press makes its node current as well;
    // the click that follows analyses it.
    keyedNode_ = new QTimer(this);
    keyedNode_->setSingleShot(true);
    keyedNode_->setInterval(kKeyedNodeDelay);
    connect(keyedNode_, &QTimer::timeout, this, [this]() { NodeClicked(tvdir_->currentIndex()); });
    connect(tvdir_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (current.isValid() && QApplication::mouseButtons() == Qt::NoButton) keyedNode_->start();
    });

    frmdisp_ = Frame("frmdisp", area);
    grdanal_ = new ResultGridView(session_.Grid(), frmdisp_);
    connect(grdanal_, &ResultGridView::ColumnClicked, this, &AnalysisWindow::SortOnGridColumn);
    connect(grdanal_, &ResultGridView::DetailClicked, this, [this](int row) { GridDetailClicked(row); });

    frmgraph_ = Frame("frmgraph", area);
    grpdisp_ = new ChartWidget(frmgraph_);
    lblgraph_ = new QLabel(QString::fromUtf8(kNoDataToChart.data(), static_cast<int>(kNoDataToChart.size())),
                           frmgraph_);
    lblgraph_->setObjectName("lblgraph");
    QFont big = lblgraph_->font();
    big.setPointSize(18);
    lblgraph_->setFont(big);

    auto* bar = new QStatusBar(this);
    bar->setObjectName("stat1");
    status_ = new QLabel(bar);
    status_->setObjectName("stat1_text");
    // A title naming a long path would otherwise hold the window wide.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar->addWidget(status_, 1);
    setStatusBar(bar);

    for (QWidget* frame : {static_cast<QWidget*>(frmnode_), static_cast<QWidget*>(frmdisp_)}) {
        frame->installEventFilter(this);
    }
    area.installEventFilter(this);
}

}  // namespace corvina
