// Lv26: keeps the hours of hourly-paid employees and prints their monthly payroll listing.
// The program's entry: the application object, the four top-level objects in their fixed
// order, then the event loop until the main window closes.

#include "app/Application.h"
#include "app/Unit1.h"
#include "data/Unit3.h"
#include "maintenance/Unit2.h"
#include "preview/ReportPreview.h"
#include "preview/ReportPrint.h"
#include "report/LISTUnit.h"
#include "widgets/BitBtn.h"

using namespace lv26;

namespace {

// Creates the hidden windows that follow the data module, in this order:
//   3. Form2    (TForm2, the maintenance window; shown modally by BitBtn1Click)
//   4. ListForm (TListForm, the report window holding Report1; never shown)
// Each one is created here and hooked to the main window (maintenanceWindow, previewPayroll)
// as soon as its class exists.
void createForms() {
    Form2 = new TForm2;
    maintenanceWindow = Form2;
    ListForm = new TListForm(Dados->Table1);
    installPrinterQuery();
    previewPayroll = [] { PreviewReport(ListForm->Report1); };
    payrollReportBusy = [] { return ListForm->Report1.busy(); };
    cancelPayrollReport = [] { CancelReport(ListForm->Report1); };
}

void destroyForms() {
    previewPayroll = nullptr;
    payrollReportBusy = nullptr;
    cancelPayrollReport = nullptr;
    delete ListForm;
    ListForm = nullptr;
    maintenanceWindow = nullptr;
    delete Form2;
    Form2 = nullptr;
}

} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    try {
        Form1 = new TForm1; // 1. the main window, the first window created
        app.setMainForm(Form1);
        Dados = new TDados; // 2. the data module: opens Func.DB and Dados.DB
        createForms();      // 3. and 4.
    } catch (...) {
        delete Dados;
        Dados = nullptr;
        delete Form1;
        Form1 = nullptr;
        return lastChance();
    }
    showMainForm(Form1, launcherShowState());
    Form1->BitBtn4->setFocus();
    scheduleTestClose(Form1, Form1->BitBtn2);

    const int exitCode = app.exec();

    // Pending changes die with the tables: closing them posts nothing.
    destroyForms();
    delete Dados;
    Dados = nullptr;
    delete Form1;
    Form1 = nullptr;
    return exitCode;
}
