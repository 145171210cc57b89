// The field exchange: order, ranges, the stop at the first failing field and the prompts.
#include <QLabel>
#include <QLineEdit>
#include <QtTest>
#include <memory>

#include "tests/tool/tool_tests.h"
#include "tool/field_exchange.h"
#include "tool/owned_widget.h"

using namespace zendrik::tool;

namespace {

// A small window with one field of each kind, bound in this order: text (max 8), unsigned 0..255,
// byte, unsigned 0..65535, label text.
struct Form {
    QWidget window;
    QLineEdit* password = MakeChild<QLineEdit>(&window);
    QLineEdit* interval = MakeChild<QLineEdit>(&window);
    QLineEdit* byteField = MakeChild<QLineEdit>(&window);
    QLineEdit* port = MakeChild<QLineEdit>(&window);
    QLabel* status = MakeChild<QLabel>(&window);

    QString passwordMember = QStringLiteral("5e2b907c");
    uint32_t intervalMember = 5;
    uint8_t byteMember = 2;
    uint32_t portMember = 2000;
    QString statusMember = QStringLiteral("old");
    QStringList prompts;

    FieldExchange exchange{{{password, TextField{&passwordMember, 8}},
                            {interval, UnsignedField{&intervalMember, 0, 255}},
                            {byteField, ByteField{&byteMember}},
                            {port, UnsignedField{&portMember, 0, 65535}},
                            {status, TextField{&statusMember}}},
                           [this](const QString& text) { prompts.append(text); }};

    Form() {
        exchange.ShowFields();
        window.show();
    }
};

}  // namespace

class FieldExchangeTest : public QObject {
    Q_OBJECT

  private slots:
    void parsesLikeTheDialogFields_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<uint>("value");
        QTest::newRow("digits") << "42" << true << 42u;
        QTest::newRow("zero") << "0" << true << 0u;
        QTest::newRow("blanks around") << " \t7 " << true << 7u;
        QTest::newRow("plus sign") << "+3" << true << 3u;
        QTest::newRow("saturates") << "99999999999" << true << 4294967295u;
        QTest::newRow("empty") << "" << false << 0u;
        QTest::newRow("minus") << "-1" << false << 0u;
        QTest::newRow("trailing letters") << "12a" << false << 0u;
        QTest::newRow("inner blank") << "1 2" << false << 0u;
        QTest::newRow("letters") << "abc" << false << 0u;
        QTest::newRow("non-ASCII digit") << "٣" << false << 0u;
    }
    void parsesLikeTheDialogFields() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(uint, value);
        const std::optional<uint32_t> parsed = ParseUnsignedField(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid) {
            QCOMPARE(*parsed, value);
        }
    }

    void showsMembers() {
        Form form;
        QCOMPARE(form.password->text(), QStringLiteral("5e2b907c"));
        QCOMPARE(form.interval->text(), QStringLiteral("5"));
        QCOMPARE(form.byteField->text(), QStringLiteral("2"));
        QCOMPARE(form.port->text(), QStringLiteral("2000"));
        QCOMPARE(form.status->text(), QStringLiteral("old"));
    }

    void showingHoldsBackChangeNotifications() {
        Form form;
        QSignalSpy changes(form.interval, &QLineEdit::textChanged);
        form.intervalMember = 9;
        form.exchange.ShowFields();
        QCOMPARE(form.interval->text(), QStringLiteral("9"));
        QCOMPARE(changes.count(), 0);
    }

    void readsEveryFieldWhenAllPass() {
        Form form;
        form.password->setText(QStringLiteral("01020304"));
        form.interval->setText(QStringLiteral("255"));
        form.byteField->setText(QStringLiteral("0"));
        form.port->setText(QStringLiteral("65535"));
        form.status->setText(QStringLiteral("new"));
        QVERIFY(form.exchange.ReadFields());
        QVERIFY(form.prompts.isEmpty());
        QCOMPARE(form.passwordMember, QStringLiteral("01020304"));
        QCOMPARE(form.intervalMember, 255u);
        QCOMPARE(form.byteMember, uint8_t{0});
        QCOMPARE(form.portMember, 65535u);
        QCOMPARE(form.statusMember, QStringLiteral("new"));
    }

    // Each row makes one field fail; the earlier fields are taken, the failing and later ones keep
    // their members (the over-long text excepted), and the prompt names the rule.
    void stopsAtTheFirstFailingField_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("byteText");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("passwordAfter");
        QTest::addColumn<uint>("intervalAfter");
        QTest::addColumn<int>("byteAfter");
        QTest::addColumn<uint>("portAfter");
        QTest::addColumn<int>("focused");  // 0 password, 1 interval, 2 byte, 3 port
        QTest::newRow("interval 300") << "aabbccdd"
                                      << "300"
                                      << "9"
                                      << "10"
                                      << "“请填入一个在0和255之间的整数。”"
                                      << "aabbccdd" << 5u << 2 << 2000u << 1;
        QTest::newRow("interval 256") << "aabbccdd"
                                      << "256"
                                      << "9"
                                      << "10"
                                      << "“请填入一个在0和255之间的整数。”"
                                      << "aabbccdd" << 5u << 2 << 2000u << 1;
        QTest::newRow("interval not a number") << "aabbccdd"
                                               << "x"
                                               << "9"
                                               << "10"
                                               << "“请填入一个正整数。”"
                                               << "aabbccdd" << 5u << 2 << 2000u << 1;
        QTest::newRow("byte 256") << "aabbccdd"
                                  << "7"
                                  << "256"
                                  << "10"
                                  << "“请填入一个在0和255之间的整数。”"
                                  << "aabbccdd" << 7u << 2 << 2000u << 2;
        QTest::newRow("byte not a number") << "aabbccdd"
                                           << "7"
                                           << ""
                                           << "10"
                                           << "“请填入一个在0和255之间的整数。”"
                                           << "aabbccdd" << 7u << 2 << 2000u << 2;
        QTest::newRow("port 65536") << "aabbccdd"
                                    << "7"
                                    << "9"
                                    << "65536"
                                    << "“请填入一个在0和65535之间的整数。”"
                                    << "aabbccdd" << 7u << 9 << 2000u << 3;
        QTest::newRow("password too long") << "aabbccdd9"
                                           << "7"
                                           << "9"
                                           << "10"
                                           << "“请填入不多于8个的字符。”"
                                           << "aabbccdd9" << 5u << 2 << 2000u << 0;
    }
    void stopsAtTheFirstFailingField() {
        QFETCH(QString, password);
        QFETCH(QString, interval);
        QFETCH(QString, byteText);
        QFETCH(QString, port);
        QFETCH(QString, prompt);
        QFETCH(QString, passwordAfter);
        QFETCH(uint, intervalAfter);
        QFETCH(int, byteAfter);
        QFETCH(uint, portAfter);
        QFETCH(int, focused);
        Form form;
        form.password->setText(password);
        form.interval->setText(interval);
        form.byteField->setText(byteText);
        form.port->setText(port);
        form.status->setText(QStringLiteral("new"));
        QVERIFY(!form.exchange.ReadFields());
        QCOMPARE(form.prompts, QStringList{prompt});
        QCOMPARE(form.passwordMember, passwordAfter);
        QCOMPARE(form.intervalMember, intervalAfter);
        QCOMPARE(int{form.byteMember}, byteAfter);
        QCOMPARE(form.portMember, portAfter);
        QCOMPARE(form.statusMember, QStringLiteral("old"));  // after the failing field: untouched
        const QWidget* expectedFocus[] = {form.password, form.interval, form.byteField, form.port};
        QCOMPARE(form.window.focusWidget(), expectedFocus[focused]);
    }
};

ZENDRIK_TOOL_TEST(FieldExchangeTest);
#include "field_exchange_test.moc"
