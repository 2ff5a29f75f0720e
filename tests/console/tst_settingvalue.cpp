#include "tst_settingvalue.h"

#include <QTest>

#include "console/SettingValue.h"

void SettingValueTest::textToNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("plain digits") << "30" << 30.0;
    QTest::newRow("blank between digits") << "1 2" << 12.0;
    QTest::newRow("leading tab") << "\t45" << 45.0;
    QTest::newRow("blanks and tabs everywhere") << " 4 \t5 . 5 " << 45.5;
    QTest::newRow("blank between sign and digits") << "- 7" << -7.0;
    QTest::newRow("plus sign") << "+7" << 7.0;
    QTest::newRow("minus sign") << "-12" << -12.0;
    QTest::newRow("decimal point") << "2.25" << 2.25;
    QTest::newRow("leading decimal point") << ".5" << 0.5;
    QTest::newRow("trailing decimal point") << "5." << 5.0;
    QTest::newRow("negative fraction") << "-.5" << -0.5;
    QTest::newRow("exponent") << "1E2" << 100.0;
    QTest::newRow("exponent after fraction") << "2.5E1" << 25.0;
    QTest::newRow("small e, negative exponent") << "1e-1" << 0.1;
    QTest::newRow("exponent with plus") << "3E+2" << 300.0;
    QTest::newRow("exponent with blanks") << "1 E 2" << 100.0;
    QTest::newRow("exponent without digits stops") << "7E" << 7.0;
    QTest::newRow("second exponent stops") << "1E2E3" << 100.0;
    QTest::newRow("hexadecimal") << "&H1F" << 31.0;
    QTest::newRow("hexadecimal, small letters") << "&h1f" << 31.0;
    QTest::newRow("hexadecimal with blank") << "&H 1F" << 31.0;
    QTest::newRow("octal") << "&O17" << 15.0;
    QTest::newRow("octal, small letter") << "&o17" << 15.0;
    QTest::newRow("octal stops at 8") << "&O178" << 15.0;
    QTest::newRow("hexadecimal without digits") << "&Hxyz" << 0.0;
    QTest::newRow("hexadecimal stops at first non-digit") << "&H1G" << 1.0;
    QTest::newRow("ampersand alone") << "&" << 0.0;
    QTest::newRow("unknown radix letter") << "&X12" << 0.0;
    QTest::newRow("letters after the number") << "45abc" << 45.0;
    QTest::newRow("second decimal point") << "4.5.6" << 4.5;
    QTest::newRow("comma stops") << "1,5" << 1.0;
    QTest::newRow("minus after digits stops") << "1-2" << 1.0;
    QTest::newRow("letters only") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("blanks only") << "  \t " << 0.0;
    QTest::newRow("sign only") << "-" << 0.0;
    QTest::newRow("point only") << "." << 0.0;
    QTest::newRow("two signs") << "--5" << 0.0;
    QTest::newRow("non-ASCII letter first") << QString::fromUtf8("\u00e95") << 0.0;
    QTest::newRow("non-ASCII letter stops") << QString::fromUtf8("5\u00e96") << 5.0;
}

void SettingValueTest::textToNumber() {
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(TextToNumber(text), expected);
}

void SettingValueTest::textToSettingValue_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("expected");

    QTest::newRow("in range") << "30" << 0 << 600 << 30;
    QTest::newRow("half down to even") << "2.5" << 0 << 100 << 2;
    QTest::newRow("half up to even") << "3.5" << 0 << 100 << 4;
    QTest::newRow("one and a half") << "1.5" << 0 << 100 << 2;
    QTest::newRow("negative half to even") << "-2.5" << -10 << 10 << -2;
    QTest::newRow("negative three and a half") << "-3.5" << -10 << 10 << -4;
    QTest::newRow("a half to zero") << "0.5" << 0 << 100 << 0;
    QTest::newRow("just above a half") << "0.51" << 0 << 100 << 1;
    QTest::newRow("just below a half") << "2.49" << 0 << 100 << 2;
    QTest::newRow("second decimal point, then rounded") << "4.5.6" << 0 << 100 << 4;
    QTest::newRow("exponent") << "2.5E1" << 0 << 100 << 25;
    QTest::newRow("hexadecimal") << "&H1F" << 0 << 100 << 31;
    QTest::newRow("empty is 0, not a default") << "" << 0 << 100 << 0;
    QTest::newRow("junk is 0") << "abc" << 0 << 100 << 0;
    QTest::newRow("above the interval range") << "99999" << 0 << 600 << 600;
    QTest::newRow("below the volume range") << "-5" << 0 << 100 << 0;
    QTest::newRow("huge exponent") << "1E9" << 0 << 100 << 100;
    QTest::newRow("far below 16 bits") << "-99999" << 0 << 600 << 0;
    QTest::newRow("rounded onto the top") << "600.4" << 0 << 600 << 600;
    QTest::newRow("rounded over the top") << "100.5" << 0 << 100 << 100;
    // A range wider than 16 bits shows the 16-bit limit on its own.
    QTest::newRow("16-bit top") << "99999" << -100000 << 100000 << 32767;
    QTest::newRow("16-bit bottom") << "-99999" << -100000 << 100000 << -32768;
    QTest::newRow("exactly the 16-bit top") << "32767" << -100000 << 100000 << 32767;
    QTest::newRow("exactly the 16-bit bottom") << "-32768" << -100000 << 100000 << -32768;
    QTest::newRow("overflowing exponent") << "1E999" << -100000 << 100000 << 32767;
    QTest::newRow("overflowing negative exponent") << "-1E999" << -100000 << 100000 << -32768;
    QTest::newRow("underflowing exponent") << "1E-999" << 0 << 100 << 0;
}

void SettingValueTest::textToSettingValue() {
    QFETCH(QString, text);
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, expected);
    QCOMPARE(TextToSettingValue(text, low, high), expected);
}
