#include "ui/unt_edit.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

#include "database/EditableRowSet.h"
#include "database/uBallotDB.h"
#include "model/Errors.h"
#include "model/TextUtil.h"
#include "ui/CandidateEditorLogic.h"

namespace korvex {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
const char* const kColumns[] = {"id", "xm"};

}  // namespace

Tfrm_edit::Tfrm_edit(QWidget* AOwner, TQMDatabase& ADB, IOperatorPrompts& prompts)
    : QDialog(AOwner), FDB(ADB), FPrompts(prompts),
      FQuery(std::make_unique<TEditableRowSet>(ADB.Conn(), "abc", kCandidateQuery)) {
    if (!ADB.IsOpen()) throw EKorvexError("数据库尚未打开。");
    setWindowTitle("编辑候选人信息");
    setFixedSize(470, 570);
    BuildControls();
    TDbConnection& conn = ADB.Conn();
    FQuery->OnNewRecord = [&conn](TEditableRowSet& rows) { InitNewCandidateRow(rows, conn); };
    FQuery->BeforePost = [&conn](TEditableRowSet& rows) { CheckCandidateRowBeforePost(rows, conn); };
    FQuery->AfterPost = [this](TEditableRowSet&) { FDB.EnsureDetailTable(); };
    FQuery->Open();
    FillGrid();
    if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
}

Tfrm_edit::~Tfrm_edit() {
    if (FQuery && FQuery->Active()) FQuery->Close();
}

void Tfrm_edit::BuildControls() {
    FGrid = new QTableWidget(this);
    FGrid->setGeometry(0, 0, 470, 390);
    FGrid->setColumnCount(2);
    FGrid->setHorizontalHeaderLabels({"显示顺序", "姓名"});
    FGrid->setColumnWidth(0, 85);
    FGrid->setColumnWidth(1, 285);
    FGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    FGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(FGrid, &QTableWidget::cellChanged, this, [this](int row, int column) { CellEdited(row, column); });
    connect(FGrid, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int previous, int) { CurrentRowChanged(row, previous); });

    auto* panel = new QWidget(this);
    panel->setGeometry(0, 390, 470, 180);
    const auto button = [panel](const char* text, int l, int t, int w, int h) {
        auto* b = new QPushButton(text, panel);
        b->setGeometry(l, t, w, h);
        b->setAutoDefault(false);
        return b;
    };
    // The button bar: insert, delete, edit, post, cancel, refresh.
    const struct {
        const char* text;
        const char* tip;
        std::function<void()> action;
    } bar[] = {{"+", "插入", [this] { InsertRow(); }},  {"−", "删除", [this] { DeleteRow(); }},
               {"▲", "编辑", [this] { EditRow(); }},    {"✓", "保存", [this] { PostRow(); }},
               {"✕", "取消", [this] { CancelRow(); }},  {"⟳", "刷新", [this] { RefreshRows(); }}};
    for (int i = 0; i < 6; ++i) {
        QPushButton* b = button(bar[i].text, 12 + 40 * i, 10, 40, 28);
        b->setToolTip(bar[i].tip);
        connect(b, &QPushButton::clicked, this, bar[i].action);
    }
    FBtnClear = button("清空", 262, 10, 56, 28);
    FBtnSort = button("整理编号", 314, 10, 72, 28);
    FBtnImport = button("文本导入", 380, 10, 62, 28);
    connect(FBtnClear, &QPushButton::clicked, this, [this] { ClearAll(); });
    connect(FBtnSort, &QPushButton::clicked, this, [this] { Renumber(); });
    connect(FBtnImport, &QPushButton::clicked, this, [this] { ImportText(); });
    FInfo = new QLabel(panel);
    FInfo->setGeometry(14, 52, 430, 96);
    FInfo->setWordWrap(true);
    FInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FInfo->setText(
        "说明：\n1、姓名不能以数字开头，不能包含 (),;/?\\ 等特殊符号；\n2、姓名不能重复；\n"
        "3、录入或导入完毕后可点“整理编号”。文本导入为一人一行。");
}

void Tfrm_edit::ShowError(const std::exception& e) { FPrompts.Error(e.what()); }

// The grid shows the stored rows and, while one is inserted, the new row.
void Tfrm_edit::FillGrid() {
    FFilling = true;
    const bool inserting = FQuery->State() == rsInsert;
    const int rows = static_cast<int>(FQuery->RecordCount()) + (inserting ? 1 : 0);
    FGrid->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        const bool current = r == FQuery->RecNo() && FQuery->State() != rsBrowse;
        for (int c = 0; c < 2; ++c) {
            const std::string text = current ? FQuery->AsText(kColumns[c])
                                             : DbValueToText(FQuery->Value(static_cast<std::size_t>(r), kColumns[c]));
            auto* item = new QTableWidgetItem(Q(text));
            if (c == 0) item->setTextAlignment(Qt::AlignCenter);
            FGrid->setItem(r, c, item);
        }
        FGrid->setVerticalHeaderItem(r, new QTableWidgetItem(current ? (inserting ? "*" : "I") : ""));
    }
    if (FQuery->RecNo() >= 0 && FQuery->RecNo() < rows) FGrid->setCurrentCell(FQuery->RecNo(), 1);
    FFilling = false;
}

void Tfrm_edit::CellEdited(int row, int column) {
    if (FFilling) return;
    try {
        if (row != FQuery->RecNo()) FQuery->MoveTo(row);
        const std::string text = FGrid->item(row, column)->text().toStdString();
        if (column == 0) {
            const auto id = ParseDecimalInt32(TrimBlanks(text));
            if (!id) throw EKorvexError("显示顺序必须是整数：" + text);
            FQuery->SetField("id", std::int64_t{*id});
        } else {
            FQuery->SetField("xm", text);
        }
    } catch (const std::exception& e) {
        ShowError(e);
    }
    FillGrid();
}

// Leaving a row that is being edited posts it, as a data-bound table does.
void Tfrm_edit::CurrentRowChanged(int row, int previous) {
    if (FFilling || row == previous || row < 0) return;
    if (FQuery->State() == rsEdit || FQuery->State() == rsInsert) {
        if (!PostRow()) return;
    }
    if (row < static_cast<int>(FQuery->RecordCount()) && row != FQuery->RecNo()) FQuery->MoveTo(row);
}

bool Tfrm_edit::InsertRow() {
    try {
        FQuery->Append();
    } catch (const std::exception& e) {
        ShowError(e);
        FillGrid();
        return false;
    }
    FillGrid();
    return true;
}

bool Tfrm_edit::DeleteRow() {
    try {
        FQuery->Delete();
    } catch (const std::exception& e) {
        ShowError(e);
        FillGrid();
        return false;
    }
    FillGrid();
    return true;
}

bool Tfrm_edit::EditRow() {
    try {
        FQuery->Edit();
    } catch (const std::exception& e) {
        ShowError(e);
        return false;
    }
    FillGrid();
    return true;
}

bool Tfrm_edit::PostRow() {
    bool ok = true;
    try {
        FQuery->Post();
    } catch (const std::exception& e) {
        ShowError(e);
        ok = false;
    }
    FillGrid();
    return ok;
}

void Tfrm_edit::CancelRow() {
    FQuery->Cancel();
    FillGrid();
}

bool Tfrm_edit::RefreshRows() {
    try {
        FQuery->Refresh();
    } catch (const std::exception& e) {
        ShowError(e);
        return false;
    }
    FillGrid();
    return true;
}

void Tfrm_edit::Reopen() {
    FQuery->Close();
    FQuery->Open();
    FillGrid();
}

void Tfrm_edit::ClearAll() {
    if (!FPrompts.Confirm("清空全部候选人以及现有计票明细？")) return;
    try {
        FQuery->Cancel();
        FDB.ClearCandidatesAndResults();
        Reopen();
    } catch (const std::exception& e) {
        ShowError(e);
    }
}

void Tfrm_edit::Renumber() {
    if (FQuery->State() == rsEdit || FQuery->State() == rsInsert) {
        if (!PostRow()) return;
    }
    try {
        FQuery->Close();
        FDB.RenumberCandidates();
        Reopen();
    } catch (const std::exception& e) {
        ShowError(e);
        if (!FQuery->Active()) Reopen();
    }
}

void Tfrm_edit::ImportText() {
    if (FQuery->RecordCount() > 0) {
        FPrompts.Information("请先清空现有候选人再导入。");
        return;
    }
    const auto file = FPrompts.OpenFile("文本文件|*.txt|所有文件|*.*");
    if (!file) return;
    try {
        FQuery->Cancel();
        ImportCandidateNames(FDB, ReadImportLines(*file));
    } catch (const std::exception& e) {
        ShowError(e);
        FillGrid();
        return;
    }
    Reopen();
}

void EditCandidates(QWidget* AOwner, TQMDatabase& ADB, IOperatorPrompts& prompts) {
    Tfrm_edit editor(AOwner, ADB, prompts);
    editor.exec();
}

}  // namespace korvex
