// The address-book readers and the import plan, without a screen.
#include "friends/addressbook.h"

#include <QTest>

using addressbook::Format;

namespace {
QByteArray Crlf(const char* text) {
    return QByteArray(text).replace("\n", "\r\n");
}

QStringList L(std::initializer_list<const char*> items) {
    QStringList list;
    for (const char* item : items)
        list.append(QString::fromUtf8(item));
    return list;
}

QByteArray Utf16LeWithMark(const QString& text) {
    QByteArray bytes("\xFF\xFE");
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}
} // namespace

class AddressBookTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readers_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("vCard 3: folded, grouped, quoted-printable Latin-1, two cards")
            << int(Format::VCard)
            << Crlf("BEGIN:VCARD\nVERSION:3.0\nFN:Ann Lee\nEMAIL;TYPE=INTERNET,WORK:ann@exa\n mple.org\n"
                    "item1.EMAIL;TYPE=INTERNET:ann.lee@home.example\nNOTE:EMAIL:not-this@example.org\n"
                    "END:VCARD\nBEGIN:VCARD\nVERSION:3.0\nFN:J\xF6rg\n"
                    "EMAIL;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:j=F6rg@example.de\nEND:VCARD\n")
            << QStringList{QStringLiteral("ann@example.org"), QStringLiteral("ann.lee@home.example"),
                           QString::fromUtf8("j\xC3\xB6rg@example.de")};
        QTest::newRow("vCard 4: parameters in quotes, tab folding, mailto, escaped comma")
            << int(Format::VCard)
            << Crlf("BEGIN:VCARD\nVERSION:4.0\nFN:Bob\nEMAIL;TYPE=\"work,voice\";PREF=1:bob@\n\texample.net\n"
                    "EMAIL:mailto:bob.private@example.net\nEMAIL:carol@example.net\\,dave@example.net\nEND:"
                    "VCARD\n")
            << QStringList{QStringLiteral("bob@example.net"), QStringLiteral("bob.private@example.net"),
                           QStringLiteral("carol@example.net"), QStringLiteral("dave@example.net")};
        QTest::newRow("vCard 2.1: bare QUOTED-PRINTABLE with a soft line break, windows-1252, LF only")
            << int(Format::VCard)
            << QByteArray(
                   "BEGIN:VCARD\nVERSION:2.1\nEMAIL;INTERNET;CHARSET=windows-1252;QUOTED-PRINTABLE:ren=\n"
                   "=E9e@example.fr\nEMAIL;INTERNET:plain@example.fr\nEND:VCARD\n")
            << QStringList{QString::fromUtf8("ren\xC3\xA9"
                                             "e@example.fr"),
                           QStringLiteral("plain@example.fr")};
        QTest::newRow("vCard: base64 value in a UTF-16 file")
            << int(Format::VCard)
            << Utf16LeWithMark(
                   QStringLiteral("BEGIN:VCARD\r\nEMAIL;ENCODING=b:ZXZlQGV4YW1wbGUub3Jn\r\nEND:VCARD\r\n"))
            << L({"eve@example.org"});
        QTest::newRow("vCard: KOI8-R charset")
            << int(Format::VCard)
            << QByteArray("BEGIN:VCARD\r\nEMAIL;CHARSET=KOI8-R:\xC9\xD7\xC1\xCE"
                          "@example.ru\r\nEND:VCARD\r\n")
            << QStringList{QString::fromUtf8("\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD"
                                             "@example.ru")};

        QTest::newRow("CSV: quoted commas and quotes, a line break in a field, two mail columns")
            << int(Format::Csv)
            << Crlf("First Name,Last Name,E-mail Address,Notes,Secondary Email,E-mail Type\n"
                    "Ann,\"Lee, Jr.\",ann@example.org,\"says \"\"hi\"\", then\nleaves\",,SMTP\n"
                    "\"Bob\",Smith,\"Bob Smith <bob@example.com>\",,\"bob2@example.com\",SMTP\n"
                    ",,,,,\n"
                    "Carol,,carol@example.com\n")
            << QStringList{QStringLiteral("ann@example.org"), QStringLiteral("bob@example.com"),
                           QStringLiteral("bob2@example.com"), QStringLiteral("carol@example.com")};
        QTest::newRow("CSV: semicolons, UTF-8 byte-order mark, no final line break")
            << int(Format::Csv)
            << QByteArray(
                   "\xEF\xBB\xBFName;EMAIL;Phone\n\"Lee; Ann\";ann@example.org;1,2\nBob;bob@example.com;3")
            << QStringList{QStringLiteral("ann@example.org"), QStringLiteral("bob@example.com")};
        QTest::newRow("CSV: no column about mail")
            << int(Format::Csv) << QByteArray("Name,Phone\nann@example.org,1\n") << QStringList();

        QTest::newRow("LDIF: base64 values, folded lines, second address, comments")
            << int(Format::Ldif)
            << QByteArray("version: 1\n# mail: commented@example.org\n"
                          "dn:: Y249SsO2cmcsbWFpbD1qb2VyZ0BleGFtcGxlLmRl\nobjectclass: person\n"
                          "mail:: " +
                          QByteArray("j\xC3\xB6rg@example.de").toBase64() +
                          "\nmozillaSecondEmail: joerg@exa\n mple.com\n\n"
                          "dn: cn=Ann\nMAIL;lang-en: ann@example.org\ncn: mail@not.an.attribute\n"
                          "mail:< file:///etc/passwd\n")
            << QStringList{QString::fromUtf8("j\xC3\xB6rg@example.de"), QStringLiteral("joerg@example.com"),
                           QStringLiteral("ann@example.org")};
    }
    void readers() {
        QFETCH(int, format);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QCOMPARE(addressbook::Read(static_cast<Format>(format), bytes), expected);
    }

    void detectFormat_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("expected");
        QTest::newRow("vcf") << QStringLiteral("a.vcf") << QByteArray("x") << int(Format::VCard);
        QTest::newRow("content beats suffix")
            << QStringLiteral("contacts.csv") << QByteArray("\r\nbegin:vcard\r\n") << int(Format::VCard);
        QTest::newRow("ldif by content")
            << QStringLiteral("export") << QByteArray("dn: cn=a\n") << int(Format::Ldif);
        QTest::newRow("ldif by suffix")
            << QStringLiteral("a.LDIF") << QByteArray("# comment\n") << int(Format::Ldif);
        QTest::newRow("otherwise CSV")
            << QStringLiteral("book.txt") << QByteArray("Name,Email\n") << int(Format::Csv);
    }
    void detectFormat() {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QFETCH(int, expected);
        QCOMPARE(int(addressbook::DetectFormat(fileName, bytes)), expected);
    }

    void addressesIn_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("display form")
            << QStringLiteral("\"Lee, Ann\" <ann@example.org>") << L({"ann@example.org"});
        QTest::newRow("name that looks like an address")
            << QStringLiteral("\"mum@home\" <mum@family.test>") << L({"mum@family.test"});
        QTest::newRow("parenthesised")
            << QStringLiteral("Ann Lee (ann@example.org)") << L({"ann@example.org"});
        QTest::newRow("several") << QStringLiteral("a@x.org; b@y.org ::: c@z.org")
                                 << L({"a@x.org", "b@y.org", "c@z.org"});
        QTest::newRow("mailto with query") << QStringLiteral("mailto:a@x.org?subject=hi") << L({"a@x.org"});
        QTest::newRow("no address") << QStringLiteral("SMTP") << QStringList();
        QTest::newRow("@ at an end") << QStringLiteral("@x.org a@ @") << QStringList();
        QTest::newRow("control character") << QStringLiteral("a\u202E@x.org") << QStringList();
    }
    void addressesIn() {
        QFETCH(QString, value);
        QFETCH(QStringList, expected);
        QCOMPARE(addressbook::AddressesIn(value), expected);
    }

    void planImport() {
        const QString sixty = QString(48, u'a') + QStringLiteral("@example.org"); // 60 bytes
        const QString sixtyOne = QLatin1Char('b') + sixty;
        const QString wide =
            QString(46, u'c') + QString::fromUtf8("\xC3\xA9") + QStringLiteral("@example.org");
        QCOMPARE(wide.size(), 59);
        QCOMPARE(wide.toUtf8().size(), 60);
        const QString tooWide = QLatin1Char('d') + wide; // 60 characters, 61 bytes
        const QList<QPair<int, QString>> friends{{1, QStringLiteral("Ann@Example.org")},
                                                 {2, QStringLiteral("carl@example.org")}};
        const addressbook::Plan plan =
            addressbook::PlanImport({QStringLiteral("ann@example.org"), QStringLiteral("new@example.org"),
                                     QStringLiteral(" NEW@example.org "), sixty, sixtyOne, wide, tooWide,
                                     QStringLiteral("CARL@EXAMPLE.ORG")},
                                    friends);
        QCOMPARE(plan.found, 7); // new@ twice in different case counts once
        QCOMPARE(plan.alreadyFriends, 2);
        QCOMPARE(plan.toAdd, (QStringList{QStringLiteral("new@example.org"), sixty, wide}));
        QCOMPARE(plan.tooLong, (QStringList{sixtyOne, tooWide}));
    }
};

QTEST_GUILESS_MAIN(AddressBookTest)
#include "addressbooktest.moc"
