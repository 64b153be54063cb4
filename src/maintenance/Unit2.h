#pragma once

// Unit2: the maintenance window TForm2, in which the user browses and maintains the
// employees (upper grid, navigator) and the current employee's weeks (lower grid). Its
// layout comes from Unit2.ui; its behaviour comes from the navigator and the grids, bound to
// the data sources of the data module Dados.

#include <QDialog>
#include <memory>

namespace Ui {
class TForm2;
}

namespace lv26 {

class TBitBtn;
class TDataGrid;
class TPanel;
class TRecordNavigator;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    // Builds the window from its stored layout, hidden, bound to Dados's data sources when
    // the data module exists (Dados must outlive the window's use of them).
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    // Shows the window modally (every other window blocked) and returns once it is closed,
    // always with mrCancel (2). Centred on the screen the first time, afterwards where it
    // was left; the focus returns to the control that last had it. Throws lv26::Error
    // "Cannot make a visible window modal" when the window is already visible.
    int exec() override;

    TPanel* Panel1;
    TRecordNavigator* DBNavigator;
    TBitBtn* BitBtn1;
    TPanel* Panel2;
    TDataGrid* DBGrid1;
    TPanel* Panel3;
    TDataGrid* DBGrid2;

    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void placeFirstTime();

    std::unique_ptr<Ui::TForm2> ui_;
    bool placed_ = false;
};

// The maintenance window, set by the start-up sequence (nullptr before and after).
extern TForm2* Form2;

} // namespace lv26
