// The bitmap button: what each kind brings, the click rules, glyph drawing, the keyboard
// rules of a window of buttons, and the application's error box behind OnClick handlers.

#include "BoxWatcher.h"
#include "Input.h"
#include "base/Error.h"
#include "widgets/BitBtn.h"
#include "widgets/ErrorBox.h"
#include "widgets/Panel.h"

#include <QDialog>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using lv26::TBitBtn;

namespace {

// A shown window with four buttons in a row, in creation (= tab) order.
struct ButtonRow {
    QWidget window;
    QList<TBitBtn*> buttons;

    explicit ButtonRow(const QStringList& captions) {
        int x = 10;
        for (const QString& caption : captions) {
            auto* b = new TBitBtn(&window);
            b->setText(caption);
            b->setGeometry(x, 10, 120, 25);
            x += 130;
            buttons.append(b);
        }
        window.resize(x + 10, 50);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
    int focused() const { return buttons.indexOf(qobject_cast<TBitBtn*>(window.focusWidget())); }
};

// An olive-backed 36 x 18 strip: a black square in the first image, white in the second.
QPixmap twoImageStrip() {
    QImage strip(36, 18, QImage::Format_RGB32);
    strip.fill(qRgb(128, 128, 0));
    QPainter p(&strip);
    p.fillRect(4, 4, 10, 10, Qt::black);
    p.fillRect(22, 4, 10, 10, Qt::white);
    p.end();
    return QPixmap::fromImage(strip);
}

} // namespace

class TestBitBtn : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void kindsBringCaptionGlyphAndMarks();
    void glyphStripTransparencyAndDisabledImage();
    void glyphAndCaptionCentredTogether();
    void closeKindClosesWindowWithoutOnClick();
    void customKindStoresModalResultThenClicks();
    void modalResultEndsModalDialog();
    void helpKindLooksForHelpContext();
    void enterClicksFocusedButtonOnly();
    void arrowsMoveAmongSiblingsWrapping();
    void escapeClicksCancelButton();
    void acceleratorsWithoutAltIgnoreCase();
    void defaultFrameFollowsFocus();
    void titleFromExecutable_data();
    void titleFromExecutable();
    void errorBoxText_data();
    void errorBoxText();
    void handlerErrorsShowBoxAndLoopGoesOn();
    void panelFrameKeepsChildrenInside();
};

void TestBitBtn::kindsBringCaptionGlyphAndMarks() {
    TBitBtn bare;
    bare.setKind(TBitBtn::bkClose);
    QCOMPARE(bare.text(), QStringLiteral("&Close"));
    QCOMPARE(bare.glyph().size(), QSize(36, 18));
    QCOMPARE(bare.numGlyphs(), 2);
    QVERIFY(!bare.isDefaultButton());

    // A caption stored before the kind is kept.
    TBitBtn own;
    own.setText(QStringLiteral("&Folha de Pagamento"));
    own.setKind(TBitBtn::bkYes);
    QCOMPARE(own.text(), QStringLiteral("&Folha de Pagamento"));
    QVERIFY(own.isDefaultButton());
    QCOMPARE(own.modalResult(), int(lv26::mrYes));
    QVERIFY(!own.glyph().isNull());

    TBitBtn help;
    help.setKind(TBitBtn::bkHelp);
    QCOMPARE(help.text(), QStringLiteral("&Help"));
    QCOMPARE(help.modalResult(), int(lv26::mrNone));

    // bkCustom keeps whatever was stored.
    TBitBtn custom;
    custom.setCancel(true);
    custom.setModalResult(lv26::mrOk);
    custom.setKind(TBitBtn::bkCustom);
    QVERIFY(custom.isCancel());
    QCOMPARE(custom.modalResult(), int(lv26::mrOk));
    QVERIFY(custom.text().isEmpty());
    QVERIFY(custom.glyph().isNull());
}

void TestBitBtn::glyphStripTransparencyAndDisabledImage() {
    TBitBtn button;
    button.setGlyph(twoImageStrip());
    QCOMPARE(button.numGlyphs(), 2); // width is twice the height
    QImage normal = button.currentGlyph().toImage();
    QCOMPARE(normal.size(), QSize(18, 18));
    QCOMPARE(qAlpha(normal.pixel(0, 17)), 0); // the olive of the bottom-left pixel
    QCOMPARE(normal.pixelColor(8, 8), QColor(Qt::black));

    button.setEnabled(false);
    const QImage disabled = button.currentGlyph().toImage();
    QCOMPARE(disabled.pixelColor(8, 8), QColor(Qt::white));
    QCOMPARE(qAlpha(disabled.pixel(1, 1)), 0);

    // With a single image the disabled one is an embossed grey copy of it.
    TBitBtn single;
    QPixmap one = twoImageStrip().copy(0, 0, 18, 18);
    single.setGlyph(one);
    QCOMPARE(single.numGlyphs(), 1);
    single.setEnabled(false);
    const QImage grey = single.currentGlyph().toImage();
    QCOMPARE(grey.pixelColor(8, 8), QColor(128, 128, 128));
    QCOMPARE(grey.pixelColor(14, 14), QColor(Qt::white)); // the shadow, one pixel off
    QCOMPARE(qAlpha(grey.pixel(0, 17)), 0);
}

void TestBitBtn::glyphAndCaptionCentredTogether() {
    TBitBtn button;
    button.setGeometry(0, 0, 153, 25);
    button.setText(QStringLiteral("&Folha de Pagamento"));
    button.setKind(TBitBtn::bkYes);
    const auto layout = button.contentLayout();
    QCOMPARE(layout.glyph.size(), QSize(18, 18));
    QCOMPARE(layout.caption.left() - (layout.glyph.right() + 1), 4);
    const int leftGap = layout.glyph.left();
    const int rightGap = button.width() - (layout.caption.right() + 1);
    QVERIFY2(qAbs(leftGap - rightGap) <= 1,
             qPrintable(QString("%1 vs %2").arg(leftGap).arg(rightGap)));
    QCOMPARE(layout.glyph.top(), (25 - 18) / 2);

    // Without a caption the glyph alone is centred.
    TBitBtn glyphOnly;
    glyphOnly.setGeometry(0, 0, 40, 40);
    glyphOnly.setGlyph(twoImageStrip());
    QCOMPARE(glyphOnly.contentLayout().glyph, QRect(11, 11, 18, 18));
    QVERIFY(glyphOnly.contentLayout().caption.isEmpty());
}

void TestBitBtn::closeKindClosesWindowWithoutOnClick() {
    ButtonRow row({QStringLiteral("Fim do Programa")});
    TBitBtn* close = row.buttons[0];
    close->setKind(TBitBtn::bkClose);
    QSignalSpy onClick(close, &TBitBtn::OnClick);
    lv26::test::clickAt(close);
    QVERIFY(!row.window.isVisible());
    QCOMPARE(onClick.count(), 0);
}

void TestBitBtn::customKindStoresModalResultThenClicks() {
    ButtonRow row({QStringLiteral("&Folha"), QStringLiteral("Outro")});
    row.buttons[0]->setKind(TBitBtn::bkYes);
    int resultSeenByHandler = -1;
    QObject::connect(row.buttons[0], &TBitBtn::OnClick,
                     [&] { resultSeenByHandler = row.window.property("modalResult").toInt(); });
    lv26::test::clickAt(row.buttons[0]);
    QCOMPARE(resultSeenByHandler, int(lv26::mrYes));
    QVERIFY(row.window.isVisible()); // a window that is not modal stays open

    QSignalSpy other(row.buttons[1], &TBitBtn::OnClick);
    row.buttons[1]->setFocus();
    lv26::test::typeKey(Qt::Key_Space);
    QCOMPARE(other.count(), 1);
    QCOMPARE(row.window.property("modalResult").toInt(), int(lv26::mrNone));
}

void TestBitBtn::modalResultEndsModalDialog() {
    QDialog dialog;
    auto* ok = new TBitBtn(&dialog);
    ok->setText(QStringLiteral("OK"));
    ok->setModalResult(lv26::mrOk);
    QTimer::singleShot(0, ok, &TBitBtn::click);
    QCOMPARE(dialog.exec(), int(lv26::mrOk));
}

void TestBitBtn::helpKindLooksForHelpContext() {
    ButtonRow row({QStringLiteral("&Descrição")});
    TBitBtn* help = row.buttons[0];
    help->setKind(TBitBtn::bkHelp);
    QSignalSpy onClick(help, &TBitBtn::OnClick);
    QList<int> contexts;
    TBitBtn::setHelpContextHandler([&](QWidget*, int context) { contexts.append(context); });

    lv26::test::clickAt(help);
    QCOMPARE(onClick.count(), 1); // no context anywhere: an ordinary click
    QVERIFY(contexts.isEmpty());

    row.window.setProperty("helpContext", 42); // found on a parent
    lv26::test::clickAt(help);
    QCOMPARE(onClick.count(), 1);
    QCOMPARE(contexts, QList<int>{42});
    TBitBtn::setHelpContextHandler({});
}

void TestBitBtn::enterClicksFocusedButtonOnly() {
    ButtonRow row({QStringLiteral("A"), QStringLiteral("B")});
    QSignalSpy a(row.buttons[0], &TBitBtn::OnClick), b(row.buttons[1], &TBitBtn::OnClick);
    row.buttons[1]->setDefaultButton(true);
    row.buttons[0]->setFocus();
    lv26::test::typeKey(Qt::Key_Return);
    lv26::test::typeKey(Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(a.count(), 2);
    QCOMPARE(b.count(), 0); // the default mark does not draw Enter away from the focus
    lv26::test::typeKey(Qt::Key_Return, Qt::ShiftModifier);
    lv26::test::typeKey(Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(a.count(), 2);
}

void TestBitBtn::arrowsMoveAmongSiblingsWrapping() {
    ButtonRow row({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    auto* elsewhere = new TBitBtn(new QWidget(&row.window)); // another parent: never visited
    elsewhere->parentWidget()->show();
    row.buttons[0]->setFocus();
    const struct {
        Qt::Key key;
        int expected;
    } steps[] = {{Qt::Key_Right, 1}, {Qt::Key_Down, 2}, {Qt::Key_Right, 0},
                 {Qt::Key_Left, 2},  {Qt::Key_Up, 1},   {Qt::Key_Up, 0}};
    for (const auto& step : steps) {
        lv26::test::typeKey(step.key);
        QCOMPARE(row.focused(), step.expected);
    }
    lv26::test::typeKey(Qt::Key_Right, Qt::AltModifier);
    QCOMPARE(row.focused(), 0);

    // Disabled siblings are passed over.
    row.buttons[1]->setEnabled(false);
    lv26::test::typeKey(Qt::Key_Right);
    QCOMPARE(row.focused(), 2);
}

namespace {

// A window that hands unclaimed keys to the buttons' keyboard rules, as the program's do.
class KeyedWindow : public QWidget {
protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (!lv26::handleFormKey(this, event))
            QWidget::keyPressEvent(event);
    }
};

} // namespace

void TestBitBtn::escapeClicksCancelButton() {
    KeyedWindow window;
    auto* cancel = new TBitBtn(&window);
    cancel->setText(QStringLiteral("Cancelar"));
    cancel->setCancel(true);
    auto* other = new TBitBtn(&window);
    other->setText(QStringLiteral("Outro"));
    other->move(0, 40);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QSignalSpy clicks(cancel, &TBitBtn::OnClick);

    other->setFocus();
    lv26::test::typeKey(Qt::Key_Escape);
    QCOMPARE(clicks.count(), 1);
    for (auto mods : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier})
        lv26::test::typeKey(Qt::Key_Escape, mods);
    QCOMPARE(clicks.count(), 1);

    cancel->setEnabled(false);
    lv26::test::typeKey(Qt::Key_Escape);
    QCOMPARE(clicks.count(), 1);
}

void TestBitBtn::acceleratorsWithoutAltIgnoreCase() {
    KeyedWindow window;
    auto* describe = new TBitBtn(&window);
    describe->setText(QStringLiteral("&Descrição"));
    auto* ampersand = new TBitBtn(&window);
    ampersand->setText(QStringLiteral("A && B"));
    ampersand->move(0, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(describe->accelerator(), QChar(u'D'));
    QVERIFY(ampersand->accelerator().isNull()); // "&&" is a literal ampersand

    QSignalSpy clicks(describe, &TBitBtn::OnClick);
    QSignalSpy literal(ampersand, &TBitBtn::OnClick);
    ampersand->setFocus();
    lv26::test::typeKey(Qt::Key_D, Qt::NoModifier);
    QCOMPARE(clicks.count(), 1);
    lv26::test::typeKey(Qt::Key_D, Qt::ShiftModifier);
    QCOMPARE(clicks.count(), 2);
    lv26::test::typeKey(Qt::Key_D, Qt::AltModifier); // the mnemonic shortcut
    QTRY_COMPARE(clicks.count(), 3);
    lv26::test::typeKey(Qt::Key_D, Qt::ControlModifier);
    lv26::test::typeKey(Qt::Key_B);
    QCOMPARE(clicks.count(), 3);
    QCOMPARE(literal.count(), 0);
}

void TestBitBtn::defaultFrameFollowsFocus() {
    QWidget window;
    auto* yes = new TBitBtn(&window);
    yes->setKind(TBitBtn::bkYes);
    auto* other = new TBitBtn(&window);
    other->move(0, 40);
    auto* edit = new QLineEdit(&window);
    edit->move(0, 80);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    other->setFocus();
    QVERIFY(other->showsDefaultFrame());
    QVERIFY(!yes->showsDefaultFrame());
    edit->setFocus();
    QVERIFY(yes->showsDefaultFrame()); // the default button's own mark comes back
    QVERIFY(!other->showsDefaultFrame());
}

void TestBitBtn::titleFromExecutable_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("program") << "/usr/bin/Lv26"
                             << "Lv26";
    QTest::newRow("upper case rest lowered") << "/opt/LV26.EXE"
                                             << "Lv26";
    QTest::newRow("first kept as is") << "lV26"
                                      << "lv26";
    QTest::newRow("only last extension dropped") << "/x/Prog.V2.bin"
                                                 << "Prog.v2";
}

void TestBitBtn::titleFromExecutable() {
    QFETCH(QString, path);
    QFETCH(QString, title);
    QCOMPARE(lv26::titleFromExecutable(path), title);
}

void TestBitBtn::errorBoxText_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    // Compared by character code with '.' (0x2E).
    QTest::newRow("letter") << "Field 'Sexo' must have a value"
                            << "Field 'Sexo' must have a value.";
    QTest::newRow("digit") << "Code 12"
                           << "Code 12.";
    QTest::newRow("question mark 0x3F") << "Continue?"
                                        << "Continue?.";
    QTest::newRow("accented letter") << "Não é válido"
                                     << "Não é válido.";
    QTest::newRow("full stop") << "Done."
                               << "Done.";
    QTest::newRow("ellipsis") << "Wait..."
                              << "Wait...";
    QTest::newRow("quote 0x27") << "Invalid value 'x'"
                                << "Invalid value 'x'";
    QTest::newRow("double quote 0x22") << "Name \"a\""
                                       << "Name \"a\"";
    QTest::newRow("bang 0x21") << "Stop!"
                               << "Stop!";
    QTest::newRow("paren 0x29") << "Error (3)"
                                << "Error (3)";
    QTest::newRow("comma 0x2C") << "a,"
                                << "a,";
    QTest::newRow("slash 0x2F") << "a/"
                                << "a/.";
    QTest::newRow("trailing space") << "a "
                                    << "a ";
    QTest::newRow("empty") << ""
                           << "";
}

void TestBitBtn::errorBoxText() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(lv26::errorBoxText(message), shown);
}

void TestBitBtn::handlerErrorsShowBoxAndLoopGoesOn() {
    ButtonRow row({QStringLiteral("Erro"), QStringLiteral("Silêncio"), QStringLiteral("std")});
    int runs = 0;
    QObject::connect(row.buttons[0], &TBitBtn::OnClick, [&] {
        ++runs;
        throw lv26::EDatabaseError(QStringLiteral("Field 'Sexo' must have a value"));
    });
    QObject::connect(row.buttons[1], &TBitBtn::OnClick, [] { throw lv26::EAbort(); });
    QObject::connect(row.buttons[2], &TBitBtn::OnClick,
                     [] { throw std::runtime_error("disk full"); });
    BoxWatcher watcher;

    lv26::test::clickAt(row.buttons[0]);
    QCOMPARE(watcher.boxes().size(), 1);
    const ShownBox& box = watcher.boxes()[0];
    QCOMPARE(box.title, lv26::applicationTitle());
    QCOMPARE(box.text, QStringLiteral("Field 'Sexo' must have a value."));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.modality, Qt::ApplicationModal);
    QVERIFY(box.parentless);

    lv26::test::clickAt(row.buttons[1]);
    QCOMPARE(watcher.boxes().size(), 1); // a silent abort shows nothing

    lv26::test::clickAt(row.buttons[2]);
    QCOMPARE(watcher.boxes().size(), 2);
    QCOMPARE(watcher.boxes()[1].text, QStringLiteral("disk full."));

    lv26::test::clickAt(row.buttons[0]); // the window still works
    QCOMPARE(runs, 2);
    QCOMPARE(watcher.boxes().size(), 3);
}

void TestBitBtn::panelFrameKeepsChildrenInside() {
    // Raised outer bevel, border 4, lowered inner bevel: a child filling the panel sits
    // 6 pixels inside it on every side.
    lv26::TPanel panel;
    panel.setBevelInner(lv26::TPanel::bvLowered);
    panel.setBorderWidth(4);
    QCOMPARE(panel.frameWidth(), 6);
    auto* layout = new QVBoxLayout(&panel);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* child = new QWidget;
    layout->addWidget(child);
    panel.setGeometry(0, 41, 719, 137);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QCOMPARE(child->geometry(), QRect(6, 6, 707, 125));

    const QImage face = panel.grab().toImage();
    QCOMPARE(face.pixel(0, 0), panel.palette().color(QPalette::Light).rgb()); // raised
    QCOMPARE(face.pixel(718, 136), panel.palette().color(QPalette::Dark).rgb());
    QCOMPARE(face.pixel(5, 5), panel.palette().color(QPalette::Dark).rgb()); // lowered inside

    panel.setBevelOuter(lv26::TPanel::bvNone);
    panel.setBevelInner(lv26::TPanel::bvNone);
    QCOMPARE(panel.frameWidth(), 4);
}

QTEST_MAIN(TestBitBtn)
#include "tst_bitbtn.moc"
