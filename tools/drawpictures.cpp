// Draws the stored pictures of the program into resources/: the launcher's PNG, the tool
// windows' 32-bit bitmaps, the 16 x 16 glyphs and the icon. Run it from the repository root
// after changing a drawing; the program itself only loads the stored files.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace {

const QColor Face(105, 105, 105);
const QColor Frame(169, 169, 169);
const QColor Box(79, 79, 79);
const QColor Blue(36, 99, 178);

using IconPainter = std::function<void(QPainter &, const QRectF &, const QColor &)>;

QFont font(int pixels, bool bold)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

void atSign(QPainter &p, const QRectF &r, const QColor &c)
{
    p.setPen(c);
    p.setFont(font(int(r.height() * 0.95), true));
    p.drawText(r.adjusted(0, -r.height() * 0.08, 0, 0), Qt::AlignCenter, QStringLiteral("@"));
}

void windowsIcon(QPainter &p, const QRectF &r, const QColor &c)
{
    const qreal w = r.width() * 0.62, h = r.height() * 0.52, t = qMax<qreal>(1.0, r.width() / 16);
    for (int k = 0; k < 2; ++k) {
        const QRectF win(r.left() + k * (r.width() - w),
                         r.top() + r.height() * 0.1 + k * (r.height() * 0.8 - h), w, h);
        p.setPen(QPen(c, t));
        p.setBrush(k ? QColor(c.red(), c.green(), c.blue(), 70) : QBrush(Box));
        p.drawRect(win);
        p.fillRect(QRectF(win.left(), win.top(), win.width(), h * 0.22), c);
    }
}

void scissors(QPainter &p, const QRectF &r, const QColor &c)
{
    const qreal t = qMax<qreal>(1.2, r.width() / 14);
    p.setPen(QPen(c, t, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const qreal rad = r.width() * 0.16;
    const QPointF a(r.left() + r.width() * 0.25, r.bottom() - rad * 1.2);
    const QPointF b(r.right() - r.width() * 0.25, r.bottom() - rad * 1.2);
    p.drawEllipse(a, rad, rad);
    p.drawEllipse(b, rad, rad);
    p.drawLine(a + QPointF(rad * 0.6, -rad * 0.8),
               QPointF(r.right() - r.width() * 0.15, r.top() + r.height() * 0.05));
    p.drawLine(b + QPointF(-rad * 0.6, -rad * 0.8),
               QPointF(r.left() + r.width() * 0.15, r.top() + r.height() * 0.05));
}

void document(QPainter &p, const QRectF &r, const QColor &c)
{
    const qreal t = qMax<qreal>(1.0, r.width() / 16);
    const QRectF page =
        r.adjusted(r.width() * 0.18, r.height() * 0.05, -r.width() * 0.18, -r.height() * 0.05);
    const qreal fold = page.width() * 0.32;
    QPainterPath path;
    path.moveTo(page.topLeft());
    path.lineTo(page.right() - fold, page.top());
    path.lineTo(page.right(), page.top() + fold);
    path.lineTo(page.bottomRight());
    path.lineTo(page.bottomLeft());
    path.closeSubpath();
    p.setPen(QPen(c, t));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.drawLine(QPointF(page.right() - fold, page.top()),
               QPointF(page.right() - fold, page.top() + fold));
    p.drawLine(QPointF(page.right() - fold, page.top() + fold),
               QPointF(page.right(), page.top() + fold));
    for (int k = 0; k < 3; ++k) {
        const qreal y = page.top() + page.height() * (0.45 + k * 0.17);
        p.drawLine(QPointF(page.left() + page.width() * 0.18, y),
                   QPointF(page.right() - page.width() * 0.18, y));
    }
}

void numberedList(QPainter &p, const QRectF &r, const QColor &c)
{
    p.setFont(font(int(r.height() * 0.24), true));
    for (int k = 0; k < 3; ++k) {
        const QRectF row(r.left(), r.top() + k * r.height() / 3, r.width(), r.height() / 3);
        p.setPen(c);
        p.drawText(QRectF(row.left(), row.top(), row.width() * 0.28, row.height()), Qt::AlignCenter,
                   QString::number(k + 1));
        p.fillRect(QRectF(row.left() + row.width() * 0.34, row.center().y() - row.height() * 0.12,
                          row.width() * 0.6, row.height() * 0.24),
                   c);
    }
}

void framedLabel(QPainter &p, const QRectF &r, const QString &text, int pixels)
{
    p.setPen(QPen(Frame, 1));
    p.setBrush(Box);
    p.drawRoundedRect(r, 4, 4);
    p.setPen(Qt::white);
    p.setFont(font(pixels, true));
    p.drawText(r, Qt::AlignCenter, text);
}

void panel(QPainter &p, const QRectF &r)
{
    p.setPen(QPen(Frame, 1));
    p.setBrush(Face.darker(112));
    p.drawRect(r);
}

QImage launcher()
{
    QImage image(640, 476, QImage::Format_ARGB32);
    image.fill(Face);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // The launcher's panels are the face's own grey, told apart by their frames.
    p.setPen(QPen(Frame, 1));
    p.setBrush(Face);
    p.drawRect(QRectF(8.5, 8.5, 375, 458));
    p.drawRect(QRectF(392.5, 8.5, 238, 458));
    // Title in large rounded white letters with a soft shadow.
    QFont title = font(64, true);
    title.setLetterSpacing(QFont::PercentageSpacing, 96);
    QPainterPath text;
    text.addText(0, 0, title, QStringLiteral("Quorvane"));
    const QRectF bounds = text.boundingRect();
    text.translate(196 - bounds.center().x(), 150 - bounds.center().y());
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 90));
    p.drawPath(text.translated(3, 3));
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(text);
    // The framed numbered-list icon.
    const QRectF iconFrame(126, 250, 140, 140);
    p.setPen(QPen(Frame, 2));
    p.setBrush(Box);
    p.drawRoundedRect(iconFrame, 10, 10);
    numberedList(p, iconFrame.adjusted(22, 22, -22, -22), Qt::white);
    // Four rows, each under one hotspot button.
    const struct
    {
        int top, height;
        const char *label;
        void (*icon)(QPainter &, const QRectF &, const QColor &);
    } rows[] = {{22, 85, "Extract Emails", atSign},
                {124, 85, "Join Files", windowsIcon},
                {215, 85, "Cut Files", scissors},
                {318, 101, "Edit Text", document}};
    for (const auto &row : rows) {
        const qreal mid = row.top + row.height / 2.0;
        row.icon(p, QRectF(408, mid - 24, 48, 48), Qt::white);
        framedLabel(p, QRectF(466.5, mid - 22.5, 146, 45), QString::fromLatin1(row.label), 15);
    }
    return image;
}

QImage toolPicture(QSize size, const IconPainter &icon, const QString &heading,
                   const QString &label, const QRectF &whiteArea, const QRectF &bar)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Face);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const qreal split = 388;
    panel(p, QRectF(2.5, 2.5, split - 5, size.height() - 5));
    panel(p, QRectF(split + 2.5, 2.5, size.width() - split - 5, size.height() - 5));
    // Heading: framed icon and title.
    const QRectF iconFrame(12.5, 10.5, 44, 44);
    p.setPen(QPen(Frame, 1));
    p.setBrush(Box);
    p.drawRoundedRect(iconFrame, 5, 5);
    icon(p, iconFrame.adjusted(7, 7, -7, -7), Qt::white);
    p.setPen(Qt::white);
    p.setFont(font(22, true));
    p.drawText(QRectF(64, 10, 240, 44), Qt::AlignVCenter | Qt::AlignLeft, heading);
    p.fillRect(whiteArea, Qt::white);
    QLinearGradient gradient(bar.topLeft(), bar.topRight());
    gradient.setColorAt(0, Blue);
    gradient.setColorAt(1, Qt::white);
    p.fillRect(bar, gradient);
    // Right panel: icon and framed label, as on the launcher.
    icon(p, QRectF(split + 16, 40, 48, 48), Qt::white);
    framedLabel(p, QRectF(split + 74.5, 41.5, size.width() - split - 90, 45), label, 15);
    return image;
}

// Writes a bottom-up 32-bit BI_RGB bitmap.
void saveBitmap32(const QImage &source, const QString &path)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const quint32 rowBytes = quint32(image.width()) * 4;
    const quint32 dataSize = rowBytes * quint32(image.height());
    QByteArray out;
    auto u16 = [&](quint16 v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto u32 = [&](quint32 v) {
        u16(quint16(v & 0xFFFF));
        u16(quint16(v >> 16));
    };
    out.append("BM");
    u32(14 + 40 + dataSize);
    u16(0);
    u16(0);
    u32(14 + 40);
    u32(40);
    u32(quint32(image.width()));
    u32(quint32(image.height()));
    u16(1);
    u16(32);
    u32(0);
    u32(dataSize);
    u32(3780);
    u32(3780);
    u32(0);
    u32(0);
    for (int y = image.height() - 1; y >= 0; --y)
        out.append(reinterpret_cast<const char *>(image.constScanLine(y)), rowBytes); // B G R A
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(out);
}

// Writes a one-image icon file in 256 colours; fully transparent pixels go to the mask.
void saveIcon256(const QImage &source, const QString &path)
{
    const QImage indexed =
        source.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdAlphaDither);
    const int w = indexed.width(), h = indexed.height();
    QByteArray out;
    auto u16 = [&](quint16 v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto u32 = [&](quint32 v) {
        u16(quint16(v & 0xFFFF));
        u16(quint16(v >> 16));
    };
    const int maskRow = ((w + 31) / 32) * 4;
    const quint32 bytes = 40 + 256 * 4 + quint32(w * h + maskRow * h);
    u16(0);
    u16(1);
    u16(1);
    out.append(char(w)).append(char(h)).append(char(0)).append(char(0));
    u16(1);
    u16(8);
    u32(bytes);
    u32(6 + 16);
    u32(40);
    u32(quint32(w));
    u32(quint32(2 * h));
    u16(1);
    u16(8);
    u32(0);
    u32(quint32(w * h));
    u32(0);
    u32(0);
    u32(256);
    u32(0);
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < indexed.colorCount() ? indexed.color(i) : 0;
        out.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append(char(0));
    }
    for (int y = h - 1; y >= 0; --y)
        out.append(reinterpret_cast<const char *>(indexed.constScanLine(y)), w);
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(maskRow, 0);
        for (int x = 0; x < w; ++x)
            if (qAlpha(source.pixel(x, y)) < 128)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        out.append(row);
    }
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(out);
}

QImage glyph(const std::function<void(QPainter &)> &draw)
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return image;
}

// The program's icon, a grey and white envelope on a blue disc, drawn at size x size.
QImage programIcon(int size)
{
    QImage icon(size, size, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    QRadialGradient disc(QPointF(13, 11), 20);
    disc.setColorAt(0, QColor(90, 150, 230));
    disc.setColorAt(1, QColor(20, 70, 160));
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawEllipse(QRectF(1, 1, 30, 30));
    const QRectF env(7, 10, 18, 12);
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(120, 120, 120), 1));
    p.drawRect(env);
    p.setBrush(QColor(200, 200, 200));
    p.drawPolygon(
        QPolygonF({env.topLeft(), env.topRight(), QPointF(env.center().x(), env.top() + 7)}));
    return icon;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QDir().mkpath(QStringLiteral("resources/pictures"));
    QDir().mkpath(QStringLiteral("resources/glyphs"));
    launcher().save(QStringLiteral("resources/pictures/launcher.png"));

    saveBitmap32(toolPicture({637, 478}, atSign, QStringLiteral("Extract Emails"),
                             QStringLiteral("Extract Emails"), QRectF(13, 93, 381, 331),
                             QRectF(4, 430, 380, 44)),
                 QStringLiteral("resources/pictures/extraction.bmp"));
    saveBitmap32(toolPicture({635, 475}, windowsIcon, QStringLiteral("Join Files"),
                             QStringLiteral("Join Files"), QRectF(10, 80, 368, 350),
                             QRectF(4, 438, 380, 32)),
                 QStringLiteral("resources/pictures/join.bmp"));
    saveBitmap32(toolPicture({635, 476}, scissors, QStringLiteral("Cut Files"),
                             QStringLiteral("Cut Files"), QRectF(10, 80, 368, 350),
                             QRectF(4, 438, 380, 33)),
                 QStringLiteral("resources/pictures/cut.bmp"));
    saveBitmap32(toolPicture({635, 475}, document, QStringLiteral("Edit text"),
                             QStringLiteral("Edit Text"), QRectF(12, 136, 367, 301),
                             QRectF(4, 438, 380, 32)),
                 QStringLiteral("resources/pictures/edittext.bmp"));

    glyph([](QPainter &p) { // open folder
        p.setPen(QColor(150, 110, 20));
        p.setBrush(QColor(240, 200, 80));
        p.drawRect(QRectF(1.5, 4.5, 12, 9));
        p.setBrush(QColor(255, 225, 120));
        p.drawPolygon(QPolygonF(
            {QPointF(3.5, 7.5), QPointF(15.5, 7.5), QPointF(13.5, 13.5), QPointF(1.5, 13.5)}));
    })
        .save(QStringLiteral("resources/glyphs/open.png"));
    glyph([](QPainter &p) { // save: a diskette
        p.setPen(QColor(30, 50, 110));
        p.setBrush(QColor(60, 100, 190));
        p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1.5, 1.5);
        p.fillRect(QRectF(4, 2, 8, 5), Qt::white);
        p.fillRect(QRectF(4, 10, 8, 4), QColor(200, 200, 200));
    })
        .save(QStringLiteral("resources/glyphs/save.png"));
    glyph([](QPainter &p) { // the letters db in blue
        p.setPen(Blue);
        p.setFont(font(11, true));
        p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("db"));
    })
        .save(QStringLiteral("resources/glyphs/db.png"));
    glyph([](QPainter &p) { // red circular stop sign with a white cross
        p.setPen(QColor(150, 0, 0));
        p.setBrush(QColor(220, 30, 30));
        p.drawEllipse(QRectF(1, 1, 14, 14));
        p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
        p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
    })
        .save(QStringLiteral("resources/glyphs/stop.png"));
    glyph([](QPainter &p) {
        windowsIcon(p, QRectF(1, 1, 14, 14), QColor(40, 80, 160));
    }).save(QStringLiteral("resources/glyphs/windows.png"));

    // The icon: 32 x 32 for the window and the Windows resource (in 256 colours), and the
    // sizes of the desktop's icon theme.
    const QImage icon = programIcon(32);
    icon.save(QStringLiteral("resources/pictures/MAINICON.png"));
    saveIcon256(icon, QStringLiteral("resources/pictures/MAINICON.ico"));
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("resources/icons/hicolor/%1x%1/apps").arg(size);
        QDir().mkpath(folder);
        programIcon(size).save(folder + QStringLiteral("/org.quorvane.Quorvane.png"));
    }
    return 0;
}
