// The calibration window's print-out of its info memo, through a PDF
// printer: header, date, the memo lines one line height apart, and the
// paging of a memo longer than a page.
#include "ohmra/TFormOhmraCali.h"
#include "serial/ComPort.h"
#include "tests/support/ModalDialogs.h"
#include "tests/support/PdfWords.h"
#include "tests/support/TestSupport.h"

#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <cmath>
#include <gtest/gtest.h>

namespace {

struct PdfPrinter {
    TempDir dir;
    QString pdf;
    QPrinter printer{QPrinter::HighResolution};
    explicit PdfPrinter(const char* name)
    {
        pdf = QString::fromStdString(dir.file(name));
        // ULMARO_PDF_DIR keeps the print-outs for a look.
        if (qEnvironmentVariableIsSet("ULMARO_PDF_DIR"))
            pdf = qEnvironmentVariable("ULMARO_PDF_DIR") + "/" + name;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setResolution(TFormOhmraCali::PrintResolution);
    }
    double Pt(double px) const { return px * 72.0 / printer.logicalDpiY(); }
    int Lh(int points) const { return int(std::abs(std::lround(points * printer.logicalDpiY() / 72.0)) * 1.4); }
};

} // namespace

TEST(OhmraCaliPrint, AMemoLongerThanAPageGoesOnAtRowFour)
{
    PdfPrinter pp("cali_long.pdf");
    const int lh = pp.Lh(10);
    ASSERT_EQ(lh, 116);
    const int n = pp.printer.height() / lh - 4;   // lines per page
    ASSERT_GT(n, 20);
    // Rows 6 .. n-1 on the first page, then rows 4 .. on the next ones.
    const int first = n - 6;
    QStringList lines;
    lines << "Range\t\t: 2" << QString(48, '-');
    for (int i = 2; i < first + 30; ++i)
        lines << QString("line%1").arg(i);
    const QDate today(2009, 12, 8);
    ASSERT_TRUE(TFormOhmraCali::PrintInfoTo(pp.printer, lines, today));
    EXPECT_EQ(pp.printer.docName(), "Print out Info display.");

    const PdfDocument doc = ReadPdfWords(pp.pdf);
    ASSERT_TRUE(doc.ok) << doc.error.toStdString();
    ASSERT_EQ(doc.pages, 2);
    const QRectF paint = pp.printer.pageLayout().paintRectPoints();
    const double left = paint.left(), top = paint.top();
    const int lh14 = pp.Lh(14);

    // The manufacturer line and the date line in 14 point at x = 400.
    const QString head = TFormOhmraCali::PrintHeaderLine().section(' ', 0, 0);
    const PdfWord* h = doc.Find(head, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_NEAR(h->xMin, left + pp.Pt(400), 1.0);
    EXPECT_NEAR(h->yMin, top + pp.Pt(2 * lh14), 1.5);
    const auto dateLine = doc.LineStartingWith("Print", 0);
    QStringList dl;
    for (const PdfWord* w : dateLine)
        dl << w->text;
    EXPECT_EQ(dl.join(' '), "Print out Info display : " + QLocale().toString(today, QLocale::ShortFormat));
    ASSERT_FALSE(dateLine.empty());
    EXPECT_NEAR(dateLine[0]->yMin, top + pp.Pt(3 * lh14), 1.5);

    // Memo lines at x = 200 from row 6; the tabs open a gap.
    const PdfWord* range = doc.Find("Range", 0);
    ASSERT_NE(range, nullptr);
    EXPECT_NEAR(range->xMin, left + pp.Pt(200), 1.0);
    EXPECT_NEAR(range->yMin, top + pp.Pt(6 * lh), 1.5);
    const PdfWord* colon = doc.Find(":", 0);
    ASSERT_NE(colon, nullptr);
    EXPECT_GT(colon->xMin - range->xMax, 10.0);
    const PdfWord* dashes = doc.Find(QString(48, '-'), 0);
    ASSERT_NE(dashes, nullptr);
    EXPECT_NEAR(dashes->yMin - range->yMin, pp.Pt(lh), 0.3);

    // The last line of the first page stands at row n-1, the next one
    // starts the second page at row 4.
    const QString lastOnFirst = QString("line%1").arg(first - 1);
    const PdfWord* a = doc.Find(lastOnFirst, 0);
    ASSERT_NE(a, nullptr) << lastOnFirst.toStdString();
    EXPECT_NEAR(a->yMin - range->yMin, pp.Pt((n - 1 - 6) * lh), 0.5);
    const PdfWord* b = doc.Find(QString("line%1").arg(first), 1);
    ASSERT_NE(b, nullptr);
    EXPECT_NEAR(b->yMin, top + pp.Pt(4 * lh), 1.5);
    EXPECT_NEAR(b->xMin, left + pp.Pt(200), 1.0);
    EXPECT_EQ(doc.Find(lastOnFirst, 1), nullptr);
    const PdfWord* last = doc.Find(QString("line%1").arg(first + 29), 1);
    ASSERT_NE(last, nullptr);
    EXPECT_NEAR(last->yMin - b->yMin, pp.Pt(29 * lh), 0.5);
}

TEST(OhmraCaliPrint, AMemoThatFillsThePageExactlyLeavesNoEmptyPage)
{
    PdfPrinter pp("cali_full.pdf");
    const int n = pp.printer.height() / pp.Lh(10) - 4;
    QStringList lines;
    for (int i = 6; i < n; ++i)
        lines << QString("row%1").arg(i);
    ASSERT_TRUE(TFormOhmraCali::PrintInfoTo(pp.printer, lines, QDate(2009, 12, 8)));
    const PdfDocument doc = ReadPdfWords(pp.pdf);
    ASSERT_TRUE(doc.ok) << doc.error.toStdString();
    EXPECT_EQ(doc.pages, 1);
    EXPECT_NE(doc.Find(QString("row%1").arg(n - 1), 0), nullptr);

    // An empty memo prints the two head lines alone.
    PdfPrinter empty("cali_empty.pdf");
    ASSERT_TRUE(TFormOhmraCali::PrintInfoTo(empty.printer, {}, QDate(2009, 12, 8)));
    const PdfDocument d2 = ReadPdfWords(empty.pdf);
    ASSERT_TRUE(d2.ok);
    EXPECT_EQ(d2.pages, 1);
    EXPECT_NE(d2.Find("Print", 0), nullptr);
}

TEST(OhmraCaliPrint, PrintInfoDisplayThroughTheDialogIsLaidOutAt600Dpi)
{
    TComPort port;
    TFormOhmraCali w(&port);
    w.Today = [] { return QDate(2009, 12, 8); };
    w.MemoInfo->appendPlainText("Range\t\t: 2");
    w.MemoInfo->appendPlainText("OK !");
    TempDir dir;
    const QString pdf = QString::fromStdString(dir.file("window.pdf"));
    WhenModal<QPrintDialog>([pdf](QPrintDialog* d) {
        // A printer of a resolution of its own: the print-out keeps its 600 dpi layout.
        d->printer()->setOutputFormat(QPrinter::PdfFormat);
        d->printer()->setOutputFileName(pdf);
        d->printer()->setResolution(1200);
        d->done(QDialog::Accepted);
    });
    w.BitBtn_printClick();
    const PdfDocument doc = ReadPdfWords(pdf);
    ASSERT_TRUE(doc.ok) << doc.error.toStdString();
    const PdfWord* head = doc.Find(TFormOhmraCali::PrintHeaderLine().section(' ', 0, 0));
    const PdfWord* range = doc.Find("Range");
    const PdfWord* ok = doc.Find("OK");
    ASSERT_TRUE(head && range && ok) << doc.PageText(0).toStdString();
    // Header at x = 400, memo lines at x = 200, one 10-point line (116 px) apart.
    EXPECT_NEAR(head->xMin - range->xMin, 200 * 72.0 / 600, 0.5);
    EXPECT_NEAR(ok->yMin - range->yMin, 116 * 72.0 / 600, 0.3);
}
