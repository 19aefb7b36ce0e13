#include "samplemessages.h"

#include <QStringList>

namespace {

struct Kind {
    const char* headers; // without Subject, Date, Message-ID; \n line ends
    const char* subject; // header text; " #n" is appended
    bool checkFrom;
    const char16_t* from;
    const char* fromAddr;
    const char* replyToAddr;
    const char16_t* subjectText;
    const char* type;
    const char* subType;
    int recipients;
};

const Kind kKinds[] = {
    {"From: =?utf-8?b?SsO8cmdlbiBNw7xsbGVy?= <juergen@example.de>\n"
     "To: bench@example.net\n"
     "MIME-Version: 1.0\n"
     "Content-Type: text/plain; charset=utf-8\n",
     "=?utf-8?b?R3LDvMOfZSBhdXMgTcO8bmNoZW4=?=", true, u"Jürgen Müller", "juergen@example.de", "",
     u"Grüße aus München", "text", "plain", 1},
    {"From: =?iso-8859-1?q?Fran=E7ois_Lef=E8vre?= <fl@example.fr>\n"
     "To: a@example.net, \"B\" <b@example.net>\n"
     "Cc: c@example.net\n"
     "Content-Type: text/html; charset=iso-8859-1\n",
     "=?iso-8859-1?q?R=E9union_=E0_14h?=", true, u"François Lefèvre", "fl@example.fr", "", u"Réunion à 14h",
     "text", "html", 3},
    {"From: =?koi8-r?b?6dLJzsEg8MXU0s/XwQ==?= <irina@example.ru>\n"
     "To: bench@example.net\n"
     "Content-Type: multipart/alternative;\n\tboundary=\"=_alt\"\n",
     "=?gb2312?b?u+HS6c2o1qqjus/C1tzSuw==?=", true, u"Ирина Петрова", "irina@example.ru", "",
     u"会议通知：下周一", "multipart", "alternative", 1},
    {"From: =?iso-8859-7?b?wevd7uHt5PHv8iDQ4fDw3PI=?= <alex@example.gr>\n"
     "To: bench@example.net\n"
     "Content-Type: multipart/mixed; boundary=\"=_mixed\"\n",
     "=?iso-2022-jp?b?GyRCMnE1RCROJCpDTiRpJDsbKEI=?=", true, u"Αλέξανδρος Παππάς", "alex@example.gr", "",
     u"会議のお知らせ", "multipart", "mixed", 1},
    // No From at all: the review list falls back to Reply-To.
    {"Reply-To: \"Helpdesk\" <help@example.org>\n"
     "To: bench@example.net\n",
     "Your ticket", false, u"", "", "help@example.org", u"Your ticket", "text", "plain", 1},
    // A group (members counted), a comment, a quoted comma, an empty group.
    {"From: \"Peters, Anna\" <anna.peters@example.com>\n"
     "Reply-To: list@example.com\n"
     "To: Project team: anna@example.com, \"Doe, Jane\" <jane@example.com>,\n"
     " (the boss) boss@example.com;, solo@example.net\n"
     "Cc: undisclosed-recipients:;\n"
     "Content-Type: text/plain\n",
     "Re: budget draft", true, u"Peters, Anna", "anna.peters@example.com", "list@example.com",
     u"Re: budget draft", "text", "plain", 4},
    // Thousands of recipients (a To header of tens of kilobytes) and a bare From.
    {"From: bare@example.net\n"
     "To: @MANY@\n"
     "Cc: x@example.org, y@example.org\n",
     "Newsletter", true, u"bare@example.net", "bare@example.net", "", u"Newsletter", "text", "plain", 1502},
    // Adjacent encoded words join without their white space; windows-1252 name.
    {"From: =?windows-1252?q?Caf=E9_=96_Bar?= <bar@example.fr>\n"
     "To: bench@example.net\n",
     "=?UTF-8?Q?Za=C5=BC=C3=B3?= =?UTF-8?Q?=C5=82=C4=87_g=C4=99=C5=9Bl=C4=85?=", true, u"Café – Bar",
     "bar@example.fr", "", u"Zażółć gęślą", "text", "plain", 1},
    // Raw UTF-8 in a header.
    {"From: \"M\xc3\xbcller, Bj\xc3\xb6rn\" <bjoern@example.de>\n"
     "To: bench@example.net\n",
     "Gr\xc3\xbc\xc3\x9f"
     "e roh",
     true, u"Müller, Björn", "bjoern@example.de", "", u"Grüße roh", "text", "plain", 1},
    // Raw Latin-1 in a header: not UTF-8, read as windows-1252.
    {"From: Caf\xe9 Owner <cafe@example.fr>\n"
     "To: bench@example.net\n",
     "Men\xfc", true, u"Café Owner", "cafe@example.fr", "", u"Menü", "text", "plain", 1},
    // MIME without Content-Type (text/plain by default), and nobody in To or Cc.
    {"From: Anna Becker <anna.becker@example.com>\n"
     "MIME-Version: 1.0\n"
     "Content-Transfer-Encoding: 8bit\n",
     "No type", true, u"Anna Becker", "anna.becker@example.com", "", u"No type", "text", "plain", 0},
    // An encoded subject folded over two lines.
    {"From: =?utf-8?q?Zo=C3=AB_=C3=85ngstr=C3=B6m?= <zoe@example.se>\n"
     "To: bench@example.net\n"
     "Content-Type: text/plain; charset=us-ascii\n",
     "=?utf-8?q?A_rather_long_subject_that?=\n =?utf-8?q?_goes_on_over_a_fold?=", true, u"Zoë Ångström",
     "zoe@example.se", "", u"A rather long subject that goes on over a fold", "text", "plain", 1},
};

QByteArray manyAddresses(int count) {
    QByteArray out;
    for (int i = 1; i <= count; ++i) {
        out += "reader" + QByteArray::number(i) + "@example.com";
        if (i < count)
            out += (i % 3 == 0) ? ",\n " : ", ";
    }
    return out;
}

} // namespace

int SampleKindCount() {
    return int(std::size(kKinds));
}

SampleMessage MakeSampleMessage(int n) {
    const Kind& kind = kKinds[(n - 1) % SampleKindCount()];
    const QByteArray number = QByteArray::number(n);
    const QByteArray date = "Fri, 01 Mar 2024 " + QByteArray::number(8 + n / 3600).rightJustified(2, '0') +
                            ':' + QByteArray::number(n / 60 % 60).rightJustified(2, '0') + ':' +
                            QByteArray::number(n % 60).rightJustified(2, '0') + " +0100";
    QByteArray header = QByteArray(kind.headers).replace("@MANY@", manyAddresses(1500));
    header += "Subject: " + QByteArray(kind.subject) + " #" + number + '\n';
    header += "Date: " + date + '\n';
    header += "Message-ID: <" + number + ".sample@example.org>\n";
    header.replace("\n", "\r\n");
    header.chop(2);

    SampleMessage m;
    m.header = header;
    m.raw = header + "\r\n\r\nBody of message " + number + ".\r\n.A line that starts with a dot.\r\n";
    m.checkFrom = kind.checkFrom;
    m.from = QString::fromUtf16(kind.from);
    m.fromAddr = QString::fromLatin1(kind.fromAddr);
    m.replyToAddr = QString::fromLatin1(kind.replyToAddr);
    m.subject = QString::fromUtf16(kind.subjectText) + QStringLiteral(" #") + QString::number(n);
    m.date = QString::fromLatin1(date);
    m.contentType = QString::fromLatin1(kind.type);
    m.contentSubType = QString::fromLatin1(kind.subType);
    m.recipients = kind.recipients;
    return m;
}
