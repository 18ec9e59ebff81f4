// The main window's form: where every control sits, in dialog units, and the
// widgets made from that table.
#pragma once

#include <functional>

class QDialog;

namespace varnis {

class FormControls;

// Gives `dlg` its title, frame, font and fixed size and creates the form's
// controls on it in the table's order (frames first, so that the controls lie
// on top of them): the lists filled, the edit fields limited, labels bound to
// what they name, radio buttons in their groups, the Tab order set and the
// port list disabled. A choice made on a radio button or on the check box
// calls `onChoice` with its id.
void LayOutForm(QDialog& dlg, FormControls& controls, const std::function<void(int nId)>& onChoice);

}  // namespace varnis
