// The window's modal message boxes, behind an interface so that tests answer
// them instead of a person.
#pragma once

#include <QString>

class QWidget;

namespace varnis {

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    // A box owned by `pOwner` with one OK button and no icon.
    virtual void Message(QWidget* pOwner, const QString& text, const QString& caption) = 0;
    // An engine error: no owner, error icon, one OK button.
    virtual void Error(const QString& text, const QString& caption) = 0;
    // OK and Cancel with the warning icon; true when OK closed it.
    virtual bool Confirm(QWidget* pOwner, const QString& text, const QString& caption) = 0;
};

// The boxes a person answers, each at least as wide as its caption needs.
class QtMessageBoxes : public IMessageBoxes {
public:
    void Message(QWidget* pOwner, const QString& text, const QString& caption) override;
    void Error(const QString& text, const QString& caption) override;
    bool Confirm(QWidget* pOwner, const QString& text, const QString& caption) override;
};

}  // namespace varnis
