// A group frame of a form: an etched rectangle whose top edge runs through the
// middle of its caption line, the caption (if any) drawn on it.
#pragma once

#include <QWidget>

namespace varnis {

class FormFrame : public QWidget {
public:
    FormFrame(const QString& caption, QWidget* pParent);
    const QString& Caption() const { return m_strCaption; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QString m_strCaption;
};

}  // namespace varnis
