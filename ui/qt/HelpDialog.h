// The help window: the built-in user's guide.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTextOption>

class QPlainTextEdit;
class QPushButton;

namespace varnis {

// Stand-in for the help window's font; it has the CJK glyphs.
inline constexpr const char* kHelpFontFamily = "Noto Sans CJK SC";
// The guide's text gets smaller than the window's font, down to this size,
// when the font's lines are too tall for the whole guide to show at once.
inline constexpr int kHelpMinFontPoints = 6;

// The guide, every line break a carriage return and line feed.
QString BuildGuideText();

class HelpDialog : public QDialog {
    Q_OBJECT
public:
    explicit HelpDialog(QWidget* pParent = nullptr);

    const QString& GuideText() const { return m_strGuide; }
    QPlainTextEdit* TextField() const { return m_pText; }
    QPushButton* OkButton() const { return m_pOk; }

private:
    void OnInitDialog();
    void FitGuideToField();
    // The height the paragraphs take in `font`, wrapped at `nWidth` pixels.
    static int TextHeight(const QStringList& paragraphs, const QFont& font, int nWidth, QTextOption::WrapMode eWrap);

    QString m_strGuide;  // bound to field 1059
    QPlainTextEdit* m_pText = nullptr;
    QPushButton* m_pOk = nullptr;
};

}  // namespace varnis
