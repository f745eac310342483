#pragma once
// The candidate editor: the rows of [abc] in a table with row commands,
// clearing, renumbering and a text import of one name per line.
#include <QDialog>
#include <memory>
#include <string>

#include "ui/OperatorPrompts.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace korvex {

class TEditableRowSet;
class TQMDatabase;

class Tfrm_edit : public QDialog {
public:
    // The database must be open; the editor works on its connection.
    Tfrm_edit(QWidget* AOwner, TQMDatabase& ADB, IOperatorPrompts& prompts);
    ~Tfrm_edit() override;

    // Row commands of the button bar; each shows its error and answers success.
    bool InsertRow();
    bool DeleteRow();
    bool EditRow();
    bool PostRow();
    void CancelRow();
    bool RefreshRows();
    // "清空", "整理编号", "文本导入".
    void ClearAll();
    void Renumber();
    void ImportText();

    TEditableRowSet& Query() { return *FQuery; }
    QTableWidget* Grid() const { return FGrid; }
    QLabel* Info() const { return FInfo; }

private:
    void BuildControls();
    void FillGrid();
    void CellEdited(int row, int column);
    void CurrentRowChanged(int row, int previous);
    void ShowError(const std::exception& e);
    void Reopen();

    TQMDatabase& FDB;
    IOperatorPrompts& FPrompts;
    std::unique_ptr<TEditableRowSet> FQuery;
    QTableWidget* FGrid = nullptr;
    QPushButton* FBtnClear = nullptr;
    QPushButton* FBtnSort = nullptr;
    QPushButton* FBtnImport = nullptr;
    QLabel* FInfo = nullptr;
    bool FFilling = false;
};

// Shows the candidate editor modally over the open database.
void EditCandidates(QWidget* AOwner, TQMDatabase& ADB, IOperatorPrompts& prompts);

}  // namespace korvex
