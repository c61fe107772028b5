#pragma once
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

// The words of a PDF with their boxes (in points from the top-left corner
// of their page), as pdftotext -bbox (poppler-utils) reads them. For tests
// of print-outs made through a PDF printer.
struct PdfWord {
    int page = 0;   // from 0
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    QString text;
};

struct PdfDocument {
    bool ok = false;
    QString error;
    double pageWidth = 0, pageHeight = 0;
    int pages = 0;
    QVector<PdfWord> words;

    // The words on one page whose line starts with `first` (words of one line
    // share their yMin within half a point), joined by single blanks.
    QVector<const PdfWord*> LineStartingWith(const QString& first, int page = -1) const
    {
        for (const PdfWord& w : words) {
            if (w.text != first || (page >= 0 && w.page != page))
                continue;
            QVector<const PdfWord*> line;
            for (const PdfWord& o : words)
                if (o.page == w.page && qAbs(o.yMin - w.yMin) < 0.5 && o.xMin >= w.xMin - 0.5)
                    line.push_back(&o);
            return line;
        }
        return {};
    }
    // The first word with this text (on `page` when given), or nullptr.
    const PdfWord* Find(const QString& text, int page = -1) const
    {
        for (const PdfWord& w : words)
            if (w.text == text && (page < 0 || w.page == page))
                return &w;
        return nullptr;
    }
    // All text of a page in reading order, words joined by blanks.
    QString PageText(int page) const
    {
        QStringList t;
        for (const PdfWord& w : words)
            if (w.page == page)
                t << w.text;
        return t.join(QLatin1Char(' '));
    }
};

inline QString PdfUnescape(QString s)
{
    s.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    s.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    s.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    s.replace(QStringLiteral("&apos;"), QStringLiteral("'"));
    s.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return s;
}

inline PdfDocument ReadPdfWords(const QString& pdfPath)
{
    PdfDocument doc;
    QTemporaryDir tmp;
    const QString out = tmp.filePath(QStringLiteral("words.html"));
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdfPath, out});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        doc.error = QStringLiteral("pdftotext failed (is poppler-utils installed?): ") + p.errorString() +
                    QString::fromLocal8Bit(p.readAllStandardError());
        return doc;
    }
    QFile f(out);
    if (!f.open(QIODevice::ReadOnly)) {
        doc.error = QStringLiteral("no output from pdftotext");
        return doc;
    }
    const QString html = QString::fromUtf8(f.readAll());
    static const QRegularExpression pageRe(QStringLiteral("<page width=\"([0-9.]+)\" height=\"([0-9.]+)\">"));
    static const QRegularExpression wordRe(QStringLiteral(
        "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>"));
    const QStringList pages = html.split(QStringLiteral("<page "));
    for (qsizetype i = 1; i < pages.size(); ++i) {
        const QString pg = QStringLiteral("<page ") + pages[i];
        const auto pm = pageRe.match(pg);
        if (pm.hasMatch()) {
            doc.pageWidth = pm.captured(1).toDouble();
            doc.pageHeight = pm.captured(2).toDouble();
        }
        auto it = wordRe.globalMatch(pg);
        while (it.hasNext()) {
            const auto m = it.next();
            doc.words.push_back({int(i - 1), m.captured(1).toDouble(), m.captured(2).toDouble(),
                                 m.captured(3).toDouble(), m.captured(4).toDouble(), PdfUnescape(m.captured(5))});
        }
    }
    doc.pages = int(pages.size() - 1);
    doc.ok = true;
    return doc;
}
