// The help window: the built-in user's guide.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

namespace varnis {

inline constexpr const char* kHelpFontFamily = "Noto Sans CJK SC";
inline constexpr int kHelpFontPoints = 10;

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

    QString m_strGuide;  // bound to field 1059
    QPlainTextEdit* m_pText = nullptr;
    QPushButton* m_pOk = nullptr;
};

}  // namespace varnis
