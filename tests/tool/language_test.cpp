// The language file reader and the table of captions, messages and list columns.
#include <QtTest>
#include <algorithm>

#include "tests/tool/tool_tests.h"
#include "tool/control_ids.h"
#include "tool/language_file.h"
#include "tool/language_texts.h"
#include "tool/text_decoding.h"

using namespace zendrik::tool;

namespace {

QString CaptionOf(const LanguageTexts& texts, int controlId) {
    const auto found =
        std::find_if(texts.captions.begin(), texts.captions.end(),
                     [controlId](const Caption& caption) { return caption.controlId == controlId; });
    return found == texts.captions.end() ? QStringLiteral("<none>") : found->text;
}

}  // namespace

class LanguageTest : public QObject {
    Q_OBJECT

  private slots:
    void lookup_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");  // "<absent>" for no value
        QTest::newRow("plain") << "[Lan]\nRF_TO=bis\n"
                               << "Lan"
                               << "RF_TO"
                               << "bis";
        QTest::newRow("case of section and key") << "[lan]\nrf_to=bis\n"
                                                 << "LAN"
                                                 << "RF_TO"
                                                 << "bis";
        QTest::newRow("blanks around key, equals and value") << "[Lan]\n  LENGTH   =  Länge  \r\n"
                                                             << "Lan"
                                                             << "LENGTH "
                                                             << "Länge";
        QTest::newRow("blanks around the section name") << "[ Lan ]\nA=1\n"
                                                        << "Lan"
                                                        << "A"
                                                        << "1";
        QTest::newRow("first occurrence wins") << "[Lan]\nA=1\nA=2\n"
                                               << "Lan"
                                               << "A"
                                               << "1";
        QTest::newRow("other section") << "[Other]\nA=1\n[Lan]\nB=2\n"
                                       << "Lan"
                                       << "A"
                                       << "<absent>";
        QTest::newRow("empty value") << "[Lan]\nA=\n"
                                     << "Lan"
                                     << "A"
                                     << "";
        QTest::newRow("enclosing quotes dropped") << "[Lan]\nA=\"  x \"\n"
                                                  << "Lan"
                                                  << "A"
                                                  << "  x ";
        QTest::newRow("inner quotes kept") << "[Lan]\nA=say \"x\"\n"
                                           << "Lan"
                                           << "A"
                                           << "say \"x\"";
        QTest::newRow("no escapes, no comma split") << "[Lan]\nA=a\\tb, c; d\n"
                                                    << "Lan"
                                                    << "A"
                                                    << "a\\tb, c; d";
        QTest::newRow("equals inside the value") << "[Lan]\nA=x=y\n"
                                                 << "Lan"
                                                 << "A"
                                                 << "x=y";
        QTest::newRow("line without equals ignored") << "[Lan]\nA\nB=2\n"
                                                     << "Lan"
                                                     << "A"
                                                     << "<absent>";
    }
    void lookup() {
        QFETCH(QString, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const std::optional<QString> value = LanguageFile::FromText(file).Value(section, key);
        QCOMPARE(value.value_or(QStringLiteral("<absent>")), expected);
    }

    void longValuesAreCut() {
        const QString value(250, u'x');
        const LanguageFile file = LanguageFile::FromText(QStringLiteral("[Lan]\nRF_TO=") + value);
        QCOMPARE(file.Value("Lan", "RF_TO")->size(), LanguageFile::kMaxValueLength);
        QCOMPARE(CaptionOf(LoadLanguageTexts(file), control_id::kFreqToLabel), QString(199, u'x'));
    }

    void decoding() {
        const QByteArray utf8 = QStringLiteral("[Lan]\nRF_TO=至\n").toUtf8();
        QCOMPARE(DecodeLanguageFileText(utf8), QStringLiteral("[Lan]\nRF_TO=至\n"));
        QCOMPARE(DecodeLanguageFileText(QByteArray("\xEF\xBB\xBF[Lan]")), QStringLiteral("[Lan]"));
        // "至" in GB18030 is D6 C1, which is not valid UTF-8.
        QCOMPARE(DecodeLanguageFileText(QByteArray("RF_TO=\xD6\xC1")), QStringLiteral("RF_TO=至"));
        // A byte that is not GB18030 either costs that character only.
        QCOMPARE(DecodeLanguageFileText(QByteArray("A=\xD6\xC1\xFF")), QStringLiteral("A=至"));
    }

    void defaultsWithoutFile() {
        const LanguageTexts texts = LoadLanguageTexts(LanguageFile());
        QCOMPARE(CaptionOf(texts, control_id::kAlwaysReadRadio), QStringLiteral("Read Always"));
        QCOMPARE(CaptionOf(texts, control_id::kReadTimeLabel), QStringLiteral("Read Time\r\n(1-255):"));
        QCOMPARE(CaptionOf(texts, control_id::kFreqUnitLabel), QStringLiteral("kHz"));
        QCOMPARE(CaptionOf(texts, control_id::kOutputTimeGroup), QStringLiteral("Output Time(1-20)"));
        QCOMPARE(CaptionOf(texts, control_id::kOutputTimeLabel), QStringLiteral("Time"));
        QCOMPARE(CaptionOf(texts, control_id::kReadingIntervalLabel), QStringLiteral("Time"));
        QCOMPARE(texts.captions.size(), std::size_t{35});
        QCOMPARE(texts.messages.connectSuccessful, QStringLiteral("Connection Successful!"));
        QCOMPARE(texts.messages.lengthBytesParameterError, QStringLiteral("Lenght Bytes Parameter Error!"));
        QCOMPARE(texts.messages.warning, QStringLiteral("Warnning"));
        QCOMPARE(texts.messages.outputTimeParameterError, QStringLiteral("Output Time(1-20)"));
        QCOMPARE(texts.messages.parameterError, QStringLiteral("Parameter Error!"));
        QCOMPARE(texts.columns[0].title, QStringLiteral("No."));
        QCOMPARE(texts.columns[0].width, 90);
        QCOMPARE(texts.columns[1].title, QStringLiteral("Card Number"));
        QCOMPARE(texts.columns[1].width, 250);
        QCOMPARE(texts.columns[2].title, QStringLiteral("Success Times"));
        QCOMPARE(texts.columns[3].title, QStringLiteral("EPC Length"));
        QCOMPARE(texts.columns[3].width, 150);
    }

    void fileValues() {
        const LanguageFile file =
            LanguageFile::FromText(QStringLiteral("[Lan]\n"
                                                  "MODE_READTIME=Lesezeit\\r\\n(1-255):\n"
                                                  "MODE_S=s\\r\\n\n"
                                                  "TIME = Zeit\n"
                                                  " LENGTH = x \n"
                                                  "OUTPUT_TIME=Ausgabe\n"
                                                  "BUTTON_CONNECT=\n"
                                                  "MESSAGE_CONNECT_SUCCESFUL=Verbunden!\n"
                                                  "MESSAGE_WARNNING=Achtung\n"
                                                  "LIST_EPCLEN=EPC-Länge\n"));
        const LanguageTexts texts = LoadLanguageTexts(file);
        QCOMPARE(CaptionOf(texts, control_id::kReadTimeLabel), QStringLiteral("Lesezeit\r\n(1-255):"));
        QCOMPARE(CaptionOf(texts, control_id::kReadTimeUnit), QStringLiteral("s\\r\\n"));
        QCOMPARE(CaptionOf(texts, control_id::kOutputTimeLabel), QStringLiteral("Zeit"));
        QCOMPARE(CaptionOf(texts, control_id::kReadingIntervalLabel), QStringLiteral("Zeit"));
        QCOMPARE(CaptionOf(texts, control_id::kLengthLabel), QStringLiteral("x"));
        QCOMPARE(CaptionOf(texts, control_id::kOutputTimeGroup), QStringLiteral("Ausgabe"));
        QCOMPARE(CaptionOf(texts, control_id::kConnect), QString());
        QCOMPARE(texts.messages.connectSuccessful, QStringLiteral("Verbunden!"));
        QCOMPARE(texts.messages.warning, QStringLiteral("Achtung"));
        QCOMPARE(texts.messages.saved, QStringLiteral("Saved!"));
        QCOMPARE(texts.columns[3].title, QStringLiteral("EPC-Länge"));
        QCOMPARE(texts.columns[3].width, 150);
    }
};

ZENDRIK_TOOL_TEST_GUILESS(LanguageTest);
#include "language_test.moc"
