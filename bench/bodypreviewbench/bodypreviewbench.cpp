// bodypreviewbench: time MakeBodyPreview on starts of messages (TOP n 40 replies)
// as mail has them and as an attacker might write them.
//
//   bodypreviewbench [SECONDS_PER_CASE]
//
// Prints, per case, the reply size, the calls made, the time per call and the
// preview's size and flags.
#include "pop3/bodypreview.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

QByteArray Headers(const QByteArray& contentType) {
    QByteArray out;
    for (int i = 0; i < 12; ++i)
        out += "Received: from relay" + QByteArray::number(i) +
               ".example.net by mx.example.com; Fri, 1 Mar 2024\r\n";
    return out + "From: Shop <news@shop.example>\r\nSubject: Spring\r\nMIME-Version: 1.0\r\nContent-Type: " +
           contentType + "\r\n";
}

QByteArray Repeat(const QByteArray& piece, int times) {
    QByteArray out;
    out.reserve(piece.size() * times);
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

std::vector<std::pair<const char*, QByteArray>> Cases() {
    std::vector<std::pair<const char*, QByteArray>> cases;
    cases.emplace_back("plain, 40 lines",
                       Headers("text/plain; charset=utf-8") + "\r\n" +
                           Repeat("A line of an ordinary letter, some seventy characters long.\r\n", 40));
    cases.emplace_back(
        "quoted-printable, 40 lines",
        Headers("text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable") + "\r\n" +
            Repeat("Gr=C3=BC=C3=9Fe aus K=C3=B6ln, wir sehen uns am Montag um zehn Uhr im B=C3=BCro=\r\n",
                   40));
    const QByteArray row =
        "<tr><td style=\"padding:8px\"><a href=\"https://click.shop.example/t/abcdef0123456789\">"
        "<img src=\"https://img.shop.example/p/1.jpg\" alt=\"Shoe\" width=\"120\"></a></td>"
        "<td><p>Spring shoe &ndash; now <b>20&nbsp;%</b> off</p></td></tr>";
    cases.emplace_back("HTML newsletter, 40 lines", Headers("text/html; charset=utf-8") +
                                                        "\r\n<html><head><style>td{color:#333}</style></head>"
                                                        "<body><table>\r\n" +
                                                        Repeat(row + "\r\n", 40));
    cases.emplace_back(
        "alternative + attachment",
        Headers("multipart/mixed; boundary=m") +
            "\r\n--m\r\nContent-Type: multipart/alternative; "
            "boundary=a\r\n\r\n--a\r\nContent-Type: text/plain\r\n\r\nHello\r\n--a\r\nContent-Type: "
            "text/html\r\n\r\n<p>Hello</p>\r\n--a--\r\n--m\r\nContent-Type: application/pdf; name=r.pdf\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n" +
            Repeat(QByteArray(57, 'x').toBase64() + "\r\n", 30));
    cases.emplace_back("hostile: 10 MB single line",
                       Headers("text/plain") + "\r\n" + QByteArray(10 << 20, 'A'));
    QByteArray deep = Headers("multipart/mixed; boundary=b0") + "\r\n";
    for (int i = 1; i < 50000; ++i)
        deep += "--b" + QByteArray::number(i - 1) + "\r\nContent-Type: multipart/mixed; boundary=b" +
                QByteArray::number(i) + "\r\n\r\n";
    cases.emplace_back("hostile: MIME nested 50,000 deep", deep);
    cases.emplace_back("hostile: 20,000 parts",
                       Headers("multipart/mixed; boundary=p") + "\r\n" +
                           Repeat("--p\r\nContent-Type: image/png\r\n\r\nAAAA\r\n", 20000));
    cases.emplace_back("hostile: 1 MB of HTML tags",
                       Headers("text/html") + "\r\n<p>" + Repeat("<b>y</b>", 131072));
    cases.emplace_back("hostile: HTML nested 200,000 deep",
                       Headers("text/html") + "\r\n" + Repeat("<div>", 200000));
    return cases;
}

} // namespace

int main(int argc, char* argv[]) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.5;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bodypreviewbench [SECONDS_PER_CASE]\n");
        return 2;
    }
    std::printf("%-36s %10s %7s %12s %12s %7s  %s\n", "case", "bytes", "calls", "ms/call", "max ms", "chars",
                "flags");
    for (const auto& [name, reply] : Cases()) {
        QElapsedTimer total;
        total.start();
        int calls = 0;
        qint64 worst = 0;
        pop3::BodyPreview preview;
        do {
            QElapsedTimer one;
            one.start();
            preview = pop3::MakeBodyPreview(reply);
            worst = qMax(worst, one.nsecsElapsed());
            ++calls;
        } while (total.elapsed() < seconds * 1000);
        const QByteArray flags = QByteArray(preview.convertedFromHtml ? "html " : "") +
                                 (preview.cutShort ? "cut " : "") + (preview.limited ? "limited" : "");
        std::printf("%-36s %10lld %7d %12.3f %12.3f %7lld  %s\n", name, static_cast<long long>(reply.size()),
                    calls, total.nsecsElapsed() / 1e6 / calls, worst / 1e6,
                    static_cast<long long>(preview.text.size()), flags.constData());
    }
    return 0;
}
