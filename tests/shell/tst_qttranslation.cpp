// Checks that Qt's own texts come in Japanese: the buttons of the message
// boxes that the game shows ("はい", "いいえ", "OK" as Qt's translation has
// them), whatever the locale the tests run in.
#include "shell/QtTranslation.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

class tst_QtTranslation : public QObject
{
    Q_OBJECT

private slots:
    void messageBoxButtonsAreJapanese()
    {
        QLocale::setDefault(QLocale(QLocale::English));
        QVERIFY(installQtJapanese(qApp));
        QMessageBox question(QMessageBox::Question, QStringLiteral("Tovrika？"), QStringLiteral("?"),
                             QMessageBox::Yes | QMessageBox::No);
        QVERIFY2(question.button(QMessageBox::Yes)->text().startsWith(QStringLiteral("はい")),
                 qPrintable(question.button(QMessageBox::Yes)->text()));
        QVERIFY2(question.button(QMessageBox::No)->text().startsWith(QStringLiteral("いいえ")),
                 qPrintable(question.button(QMessageBox::No)->text()));
        QMessageBox information(QMessageBox::Information, QStringLiteral("Tovrika？"), QStringLiteral("!"),
                                QMessageBox::Ok);
        QCOMPARE(information.button(QMessageBox::Ok)->text().remove(u'&'), QStringLiteral("OK"));
        // The English texts are gone.
        QVERIFY(!question.button(QMessageBox::Yes)->text().contains(QStringLiteral("Yes")));
    }
};

QTEST_MAIN(tst_QtTranslation)
#include "tst_qttranslation.moc"
