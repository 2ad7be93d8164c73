#include "support/scripteddialogs.h"
#include "ui/frmmain.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QtTest>

using namespace sorvane;

// Runs once for each DPI (CTest sets QT_FONT_DPI): renders the window with each desktop font and
// size and checks that every caption and field text fits where the style draws it.
class CaptionsTest : public QObject
{
    Q_OBJECT

private:
    // The rectangle the style draws a button's or a field's text in.
    static QRect textArea(const QWidget* control)
    {
        if (const auto* button = qobject_cast<const QPushButton*>(control)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        }
        if (const auto* edit = qobject_cast<const QLineEdit*>(control)) {
            QStyleOptionFrame option;
            option.initFrom(edit);
            option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
            return edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
        }
        return control->contentsRect();
    }

private slots:
    void everyCaptionFits_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("points");
        for (const char* family : {"DejaVu Sans", "Noto Sans", "Liberation Sans", "Cantarell"}) {
            for (int points = 9; points <= 12; ++points) {
                // The row's name built here: GCC at -O3 took the family for a null "%s".
                const QByteArray row =
                    QByteArray(family) + ' ' + QByteArray::number(points) + " pt";
                QTest::newRow(row.constData()) << QString::fromLatin1(family) << points;
            }
        }
    }

    void everyCaptionFits()
    {
        QFETCH(QString, family);
        QFETCH(int, points);
        if (!QFontDatabase::families().contains(family))
            QSKIP(qPrintable(family +
                             QStringLiteral(" is not installed (scripts/test installs it)")));
        const QFont desktop(family, points);
        QApplication::setFont(desktop);
        testing::ScriptedDialogs dialogs;
        frmMain window(dialogs);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(QFontInfo(window.font()).family(), family);

        for (const QWidget* control : window.findChildren<QWidget*>()) {
            if (qobject_cast<const QCheckBox*>(control))
                continue;
            const QFontMetrics metrics(control->font());
            const QRect area = textArea(control);
            QString text;
            if (const auto* label = qobject_cast<const QLabel*>(control)) {
                text = label->text();
                // Captions at the user's size, not shrunk to fit.
                QCOMPARE(label->font().pointSize(), points);
            } else if (const auto* button = qobject_cast<const QPushButton*>(control)) {
                text = button->text();
            }
            QVERIFY2(metrics.horizontalAdvance(text) <= area.width() &&
                         metrics.height() <= area.height(),
                     qPrintable(QStringLiteral("%1 «%2»: text %3×%4 in %5×%6")
                                    .arg(control->objectName(), text)
                                    .arg(metrics.horizontalAdvance(text))
                                    .arg(metrics.height())
                                    .arg(area.width())
                                    .arg(area.height())));
        }
        // The window grows as a whole: the proportions stay the design's.
        const QSize size = window.size();
        QVERIFY(size.width() >= 402 && size.height() >= 188);
        QVERIFY(qAbs(double(size.width()) / size.height() - 6030.0 / 2820.0) < 0.02);
    }

    // A font whose captions fit the table as drawn gets exactly the design's size.
    void designFontKeepsTheDesignSize()
    {
        QFont small(QStringLiteral("DejaVu Sans"));
        small.setPixelSize(8);
        QApplication::setFont(small);
        testing::ScriptedDialogs dialogs;
        const frmMain window(dialogs);
        QCOMPARE(window.size(), QSize(402, 188));
    }
};

QTEST_MAIN(CaptionsTest)
#include "tst_captions.moc"
