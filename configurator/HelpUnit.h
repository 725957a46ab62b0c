#pragma once
// The help window: fixed product information, the user manual of the current
// language and the vendor's web site. A click on the background closes it.
#include <QDialog>
#include <QImage>
#include <QString>
#include <QUrl>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class TuiLanguage;

// The [HelpFiles] value for a language ID: the entry of that ID, else the
// entry "0409", else empty (nothing to open). IDs compare without case.
QString HelpFileValue(const std::vector<std::pair<std::u16string, std::u16string>>& helpFiles,
                      const QString& languageId);

// Where a help value leads: an existing file under the program folder opens
// as that file; anything else (another path, a web address) goes to the
// desktop as it is written.
struct THelpTarget {
  bool IsFile = false;
  QString Value;  // the file's path, or the value unchanged
};
THelpTarget HelpTarget(const QString& programFolder, const QString& value);

// The address the web link opens: the text as it is when it carries a
// scheme ("http:", "https:", "mailto:", any case), else "http://" + text.
QString WebLinkAddress(const QString& text);

// Texts of the product blocks: neutral placeholders, not a maker's data.
inline constexpr const char* kHelpProductName = "Gaming Mouse";
inline constexpr const char* kHelpModelNumber = "GM-100";
inline constexpr const char* kHelpDeviceClass = "USB optical gaming mouse";
inline constexpr const char* kHelpHardwareVersion = "1.00";
inline constexpr const char* kHelpSoftwareVersion = "1.00";
inline constexpr const char* kHelpWebSite = "www.example.com";
inline constexpr const char* kHelpEmail = "support@example.com";
inline constexpr const char* kHelpTelephone = "+1 555 0100";

class THelpForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 574;
  static constexpr int kClientHeight = 638;

  THelpForm(QWidget* parent, TuiLanguage* language, const QString& programFolder,
            std::vector<std::pair<std::u16string, std::u16string>> helpFiles);

  TuiLanguage* FLanguage = nullptr;
  QImage ImageMain;
  QLabel* lbl2983 = nullptr;     // "user manual"
  QLabel* lblwebsite = nullptr;  // the web address

  void Init();
  void ImageMainClick();
  void lbl2983Click();
  void lblwebsiteClick();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QString FProgramFolder;
  std::vector<std::pair<std::u16string, std::u16string>> FHelpFiles;
};

// Shows a new help window modally, centred over `over`, and returns its
// modal result (2 when the background click closed it). The window is freed
// when it closes.
int ShowHelpForm(TuiLanguage& language, const QString& programFolder,
                 const std::vector<std::pair<std::u16string, std::u16string>>& helpFiles,
                 QWidget* over = nullptr);
