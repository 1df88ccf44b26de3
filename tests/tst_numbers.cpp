#include "primitives/Errors.h"
#include "primitives/Numbers.h"

#include <QtTest>

class TestNumbers : public QObject
{
    Q_OBJECT
  private slots:
    void init() { Numbers::setDecimalSeparator(u'.'); }

    void strToInt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "42" << true << 42;
        QTest::newRow("blanks before") << "   7" << true << 7;
        QTest::newRow("plus") << "+5" << true << 5;
        QTest::newRow("minus") << "-12" << true << -12;
        QTest::newRow("dollar hex") << "$1F" << true << 31;
        QTest::newRow("x hex") << "xff" << true << 255;
        QTest::newRow("0x hex") << "0X10" << true << 16;
        QTest::newRow("negative hex") << "-$10" << true << -16;
        QTest::newRow("max") << "2147483647" << true << 2147483647;
        QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
        QTest::newRow("overflow") << "2147483648" << false << 0;
        QTest::newRow("hex overflow") << "$100000000" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("blank only") << "  " << false << 0;
        QTest::newRow("sign only") << "-" << false << 0;
        QTest::newRow("prefix only") << "$" << false << 0;
        QTest::newRow("trailing garbage") << "12a" << false << 0;
        QTest::newRow("trailing blank") << "12 " << false << 0;
        QTest::newRow("hex digit in decimal") << "1f" << false << 0;
        QTest::newRow("arabic digit") << QString::fromUtf8("\u0661") << false << 0;
    }
    void strToInt()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        try {
            QCOMPARE(Numbers::StrToInt(text), value);
            QVERIFY(ok);
        } catch (const QuorvaneError &e) {
            QVERIFY(!ok);
            QCOMPARE(e.message(), "'" + text + "' n'est pas une valeur entière correcte");
        }
    }

    void general_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0.5") << 0.5 << "0.5";
        QTest::newRow("1.234") << 1.234 << "1.234";
        QTest::newRow("0.0001") << 0.0001 << "0.0001";
        QTest::newRow("5E-5") << 0.00005 << "5E-5";
        QTest::newRow("1/86400") << 1.0 / 86400 << "1.15740740740741E-5";
        QTest::newRow("10/86400") << 10.0 / 86400 << "0.000115740740740741";
        QTest::newRow("1E15") << 1e15 << "1E15";
        QTest::newRow("just below 1E15") << 999999999999999.0 << "999999999999999";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("integer") << 2500.0 << "2500";
        QTest::newRow("0.05") << 0.05 << "0.05";
        QTest::newRow("negative") << -0.25 << "-0.25";
        QTest::newRow("negative small") << -1.0 / 86400 << "-1.15740740740741E-5";
        QTest::newRow("15 digits") << 2.0 / 3 << "0.666666666666667";
        QTest::newRow("big") << 1.5e20 << "1.5E20";
    }
    void general()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(Numbers::formatGeneral(value), text);
    }

    void otherSeparator()
    {
        Numbers::setDecimalSeparator(u',');
        QCOMPARE(Numbers::formatGeneral(1.234), QString("1,234"));
        QCOMPARE(Numbers::formatGeneral(1.0 / 86400), QString("1,15740740740741E-5"));
        QCOMPARE(Numbers::formatOneDecimal(40), QString("40,0"));
    }

    void oneDecimal_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("40") << 40.0 << "40.0";
        QTest::newRow("half up") << 0.25 << "0.3";
        QTest::newRow("third") << 100.0 / 3 << "33.3";
        QTest::newRow("big") << 100000.0 << "100000.0";
        QTest::newRow("small") << 0.04 << "0.0";
    }
    void oneDecimal()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(Numbers::formatOneDecimal(value), text);
    }
};

QTEST_GUILESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
