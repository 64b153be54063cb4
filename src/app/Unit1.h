#pragma once

#include <QWidget>
#include <memory>

class QDialog;
class QLabel;

namespace Ui {
class TForm1;
}

namespace lv26 {

class TBitBtn;

// The main window: a title label and four bitmap buttons that open the maintenance
// window, run the payroll command, open the help file and end the program. Its layout comes
// from Unit1.ui; closing it ends the program.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Builds the window from its stored layout, scaled to the screen. Hidden until shown.
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Opens the maintenance window modally (when it exists) and returns once it is closed.
    void BitBtn1Click();
    // The payroll command: totals every employee's hours, then previews the listing.
    void BitBtn3Click();
    // Sets the application's help file name to "Lv26.hlp" and asks for its contents.
    void BitBtn4Click();

    QLabel* Label1;
    TBitBtn* BitBtn4;
    TBitBtn* BitBtn1;
    TBitBtn* BitBtn3;
    TBitBtn* BitBtn2;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::TForm1> ui_;
};

// The main window, set by start-up (null before and after the run).
extern TForm1* Form1;

// The maintenance window shown modally by BitBtn1Click; null until start-up creates it.
// Not owned here.
extern QDialog* maintenanceWindow;
// The listing's preview, run by BitBtn3Click after the totals; null until start-up creates
// the report window.
extern void (*previewPayroll)();
// True while the report is producing pages; set with previewPayroll. While it is, the payroll
// command does nothing, so that the running generation keeps reading the employee table
// from where it stands.
extern bool (*payrollReportBusy)();
// Stops the report's generation, running or about to begin, before its next employee row;
// set with previewPayroll. The main window calls it when its close ends the program.
extern void (*cancelPayrollReport)();

} // namespace lv26
