// The application's icon, embedded in the program.
#pragma once

#include <QIcon>

namespace varnis {

QIcon AppIcon();

}  // namespace varnis
