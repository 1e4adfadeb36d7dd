#pragma once

#include <QIcon>

// The application icon from the resources, in every size drawn for it.
QIcon AppIcon();
