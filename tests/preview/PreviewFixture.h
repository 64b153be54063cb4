#pragma once

// Shared by the preview and printing tests: a temporary working folder with tables made and
// filled by the lv26-tables tool, the data module and ListForm opened there, and small verbs
// to act from inside the nested loops of a running preview.

#include "base/Error.h"
#include "data/Fonts.h"
#include "data/Unit3.h"
#include "preview/PreviewForm.h"
#include "preview/ReportPreview.h"
#include "report/LISTUnit.h"
#include "report/ReportPrinter.h"

#include "../report/LetterPrinter.h"

#include <QApplication>
#include <QDir>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace lv26::test {

inline bool runTablesTool(const QStringList& args) {
    QProcess tool;
    tool.start(QStringLiteral(LV26_BINARY_DIR "/tools/lv26-tables"), args);
    if (!tool.waitForFinished(120000) || tool.exitCode() != 0) {
        qWarning("lv26-tables failed: %s", tool.readAllStandardError().constData());
        return false;
    }
    return true;
}

class PreviewFixture {
public:
    // `employees` generated employees with their weeks, in a fresh working folder.
    explicit PreviewFixture(int employees) : oldDir_(QDir::currentPath()) {
        ok_ = dir_.isValid() && runTablesTool({QStringLiteral("create"), dir_.path()}) &&
              (employees == 0 ||
               runTablesTool({QStringLiteral("fill"), dir_.path(), QString::number(employees)}));
        if (!ok_)
            return;
        QDir::setCurrent(dir_.path());
        TReportPrinter::setDefaultPrinterQuery(letterPrinter);
        dados_ = std::make_unique<TDados>();
        Dados = dados_.get();
        listForm_ = std::make_unique<TListForm>(dados_->Table1);
        ListForm = listForm_.get();
    }
    ~PreviewFixture() {
        ListForm = nullptr;
        listForm_.reset();
        Dados = nullptr;
        dados_.reset();
        TReportPrinter::setDefaultPrinterQuery({});
        QDir::setCurrent(oldDir_);
    }

    bool ok() const { return ok_; }
    TDados& dados() { return *dados_; }
    TReport& report() { return listForm_->Report1; }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString currentMatricula() const { return dados_->Table1Matricula->AsString(); }

private:
    QString oldDir_;
    QTemporaryDir dir_;
    bool ok_ = false;
    std::unique_ptr<TDados> dados_;
    std::unique_ptr<TListForm> listForm_;
};

// The message of the error `action` raises; empty when it raises none.
inline QString errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.message();
    }
    return {};
}

// A printer writing PDF into `file`.
inline std::unique_ptr<QPrinter> pdfPrinter(const QString& file) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(file);
    return printer;
}

// Runs `action` once, from the event loop, as soon as `condition` holds. Each watcher has a
// timer of its own, so watchers started from inside another one's action still run.
inline void onceWhen(std::function<bool()> condition, std::function<void()> action) {
    auto* timer = new QTimer;
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, condition, action] {
        if (!condition())
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

inline TPreviewForm* openForm() {
    TPreviewForm* form = lastPreviewForm();
    return form && form->isOpen() ? form : nullptr;
}

inline bool formFinished() {
    TPreviewForm* form = openForm();
    return form && form->printer() && form->printer()->Status() == TPrinterStatus::Finished;
}

inline bool formBusyWithPages(int pages) {
    TPreviewForm* form = openForm();
    return form && form->printer() && form->printer()->Status() == TPrinterStatus::Busy &&
           form->printer()->PagesCompleted() >= pages;
}

// The preview windows that are open.
inline QList<TPreviewForm*> openPreviewForms() {
    QList<TPreviewForm*> forms;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* f = qobject_cast<TPreviewForm*>(w); f && f->isOpen())
            forms << f;
    }
    return forms;
}

// Runs a preview of `report`; `whenFinished` runs once its pages are all in (with the pending
// notifications handled), then the window is closed if it is still open.
inline void previewAndThen(TReport& report, std::function<void(TPreviewForm*)> whenFinished) {
    onceWhen(formFinished, [whenFinished] {
        QCoreApplication::processEvents();
        TPreviewForm* form = openForm();
        whenFinished(form);
        if (form && form->isOpen())
            form->close();
    });
    PreviewReport(report);
}

} // namespace lv26::test
