#include "configurator/HelpUnit.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>

#include "platform/ShellOpen.h"
#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/uiLanguage.h"

QString HelpFileValue(const std::vector<std::pair<std::u16string, std::u16string>>& helpFiles,
                      const QString& languageId) {
  auto lookup = [&](const QString& id) -> const std::u16string* {
    for (const auto& [name, value] : helpFiles)
      if (QString::fromStdU16String(name).compare(id, Qt::CaseInsensitive) == 0) return &value;
    return nullptr;
  };
  const std::u16string* v = languageId.isEmpty() ? nullptr : lookup(languageId);
  if (!v) v = lookup(QStringLiteral("0409"));
  return v ? QString::fromStdU16String(*v) : QString();
}

THelpTarget HelpTarget(const QString& programFolder, const QString& value) {
  // The value names a file relative to the program folder; backslashes of a
  // Windows-made config.ini count as separators.
  const QString relative = QString(value).replace(u'\\', u'/');
  const QString path = QDir(programFolder).filePath(relative);
  if (!relative.isEmpty() && QFileInfo(path).isFile()) return {true, QDir::cleanPath(path)};
  return {false, value};
}

QString WebLinkAddress(const QString& text) {
  static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
  if (scheme.match(text).hasMatch()) return text;
  return QStringLiteral("http://") + text;
}

namespace {

QFont helpFont(int pixelSize, bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

QImage plainBackground() {
  QImage image(THelpForm::kClientWidth, THelpForm::kClientHeight, QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(0x17, 0x19, 0x1d));
  return image;
}

}  // namespace

THelpForm::THelpForm(QWidget* parent, TuiLanguage* language, const QString& programFolder,
                     std::vector<std::pair<std::u16string, std::u16string>> helpFiles)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      FLanguage(language),
      FProgramFolder(programFolder),
      FHelpFiles(std::move(helpFiles)) {
  setObjectName(QStringLiteral("HelpForm"));
  setFixedSize(kClientWidth, kClientHeight);
  setAttribute(Qt::WA_DeleteOnClose);

  auto* header = new QLabel(this);
  header->setObjectName(QStringLiteral("LabelHeader"));
  header->setFont(helpFont(20, true));
  header->setStyleSheet(QStringLiteral("color: #ffffff;"));
  header->setGeometry(72, 21, 460, 30);  // right of the mark in the header
  SetUiText(header, QStringLiteral("Help"));

  // Four blocks; titles at y 100, 230, 360 and 490 over the background's rules.
  auto title = [this](const char* name, const char* text, int y) {
    auto* l = new QLabel(this);
    l->setObjectName(QString::fromLatin1(name));
    l->setProperty("skinStyle", QStringLiteral("labelTitleRed"));
    l->setFont(helpFont(14, true));
    l->setStyleSheet(QStringLiteral("color: #ff3b4f;"));
    l->setGeometry(30, y, 500, 20);
    SetUiText(l, QString::fromLatin1(text));
    return l;
  };
  auto line = [this](const char* name, const QString& text, int x, int y, int w, bool translate) {
    auto* l = new QLabel(this);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(helpFont(13, false));
    l->setStyleSheet(QStringLiteral("color: #dde1e6;"));
    l->setGeometry(x, y, w, 22);
    if (translate) SetUiText(l, text); else l->setText(text);
    return l;
  };
  title("LabelProductInfo", "Product Info", 100);
  line("LabelProduct", QStringLiteral("Product:"), 46, 134, 150, true);
  line("LabelProductValue", QString::fromLatin1(kHelpProductName), 200, 134, 330, false);
  line("LabelModel", QStringLiteral("Model:"), 46, 160, 150, true);
  line("LabelModelValue", QString::fromLatin1(kHelpModelNumber), 200, 160, 330, false);
  line("LabelClass", QStringLiteral("Device class:"), 46, 186, 150, true);
  line("LabelClassValue", QString::fromLatin1(kHelpDeviceClass), 200, 186, 330, false);

  title("LabelVersionInfo", "Version Info", 230);
  line("LabelHardware", QStringLiteral("Hardware:"), 46, 264, 150, true);
  line("LabelHardwareValue", QString::fromLatin1(kHelpHardwareVersion), 200, 264, 330, false);
  line("LabelSoftware", QStringLiteral("Software:"), 46, 290, 150, true);
  line("LabelSoftwareValue", QString::fromLatin1(kHelpSoftwareVersion), 200, 290, 330, false);

  title("LabelHelpInfo", "Help Info", 360);
  line("LabelHelp", QStringLiteral("Help:"), 46, 394, 150, true);
  lbl2983 = line("lbl2983", QStringLiteral("user manual"), 200, 394, 330, true);
  line("LabelWeb", QStringLiteral("Web:"), 46, 420, 150, true);
  lblwebsite = line("lblwebsite", QString::fromLatin1(kHelpWebSite), 200, 420, 330, false);
  for (QLabel* link : {lbl2983, lblwebsite}) {
    link->setStyleSheet(QStringLiteral("color: #ff3b4f; text-decoration: underline;"));
    link->setCursor(Qt::PointingHandCursor);
    link->installEventFilter(this);
  }

  // Kept for the layout of the window, not shown.
  title("LabelContactInfo", "Contact Info", 490)->hide();
  line("LabelEmail", QString::fromLatin1(kHelpEmail), 46, 524, 480, false)->hide();
  line("LabelPhone", QString::fromLatin1(kHelpTelephone), 46, 550, 480, false)->hide();

  Init();
}

void THelpForm::Init() {
  ImageMain = plainBackground();
  ImageDataBase().AssignIMAGE(ImageMain, QStringLiteral("dlg-help-back.png"), QStringLiteral("background"),
                              QString());
}

void THelpForm::ImageMainClick() { done(2); }

void THelpForm::lbl2983Click() {
  const QString value = HelpFileValue(FHelpFiles, FLanguage ? FLanguage->Lang() : QString());
  if (value.isEmpty()) return;
  const THelpTarget target = HelpTarget(FProgramFolder, value);
  if (target.IsFile)
    platform::openFile(target.Value);
  else
    platform::openAddress(target.Value);
}

void THelpForm::lblwebsiteClick() { platform::openAddress(WebLinkAddress(lblwebsite->text())); }

void THelpForm::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(rect(), ImageMain);
}

void THelpForm::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    ImageMainClick();
    return;
  }
  QDialog::mousePressEvent(event);
}

bool THelpForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == lbl2983) {
      lbl2983Click();
      return true;
    }
    if (watched == lblwebsite) {
      lblwebsiteClick();
      return true;
    }
  }
  if (event->type() == QEvent::MouseButtonPress && (watched == lbl2983 || watched == lblwebsite))
    return true;  // a link is not the background
  return QDialog::eventFilter(watched, event);
}

int ShowHelpForm(TuiLanguage& language, const QString& programFolder,
                 const std::vector<std::pair<std::u16string, std::u16string>>& helpFiles, QWidget* over) {
  if (!over) over = QApplication::activeWindow();
  QPointer<THelpForm> form = new THelpForm(over, &language, programFolder, helpFiles);
  QRect area = over ? over->frameGeometry() : QRect();
  if (!area.isValid())
    if (QScreen* s = QGuiApplication::primaryScreen()) area = s->availableGeometry();
  if (area.isValid()) form->move(area.center() - QPoint(form->width() / 2, form->height() / 2));
  const int result = form->exec();  // deletes the form: WA_DeleteOnClose
  return result == 1 ? 1 : 2;
}
