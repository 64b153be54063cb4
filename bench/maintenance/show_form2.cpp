// show_form2: shows the maintenance window over the tables in DIR and saves a picture of it.
//
//   show_form2 DIR OUT.png
//
// Form2 is shown with the focus in the employee grid, then grabbed once it has painted.

#include "data/Unit3.h"
#include "maintenance/DataGrid.h"
#include "maintenance/Unit2.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

using namespace lv26;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: show_form2 DIR OUT.png\n");
        return 2;
    }
    const QString out = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[2]));
    QDir::setCurrent(QString::fromLocal8Bit(argv[1]));
    try {
        Dados = new TDados;
        Form2 = new TForm2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "show_form2: %s\n", error.what());
        return 1;
    }
    int status = 0;
    QTimer::singleShot(300, [&] {
        Form2->activateWindow();
        Form2->DBGrid1->setFocus();
        Form2->DBGrid1->setCurrentColumn(1);
        QTimer::singleShot(300, [&] {
            if (!Form2->grab().save(out))
                status = 1;
            Form2->close();
        });
    });
    Form2->exec();
    delete Form2;
    delete Dados;
    return status;
}
