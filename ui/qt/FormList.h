// A drop-down list of a form: the form gives the height of the list when it is
// open; a list with more items scrolls within that height.
#pragma once

#include <QComboBox>

namespace varnis {

class FormList : public QComboBox {
    Q_OBJECT
public:
    explicit FormList(QWidget* pParent);

    // The height in pixels the opened list may take below the closed control.
    void SetOpenHeight(int nPixels) { m_nOpenHeight = nPixels; }
    int OpenHeight() const { return m_nOpenHeight; }
    // The opened list's window (null before it first opens).
    QWidget* Popup() const;

    void showPopup() override;

private:
    int m_nOpenHeight = 0;
};

}  // namespace varnis
