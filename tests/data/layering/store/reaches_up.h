// A store header that reaches up into the view and into Qt: the layering
// check must name both.
#pragma once
#include "view/show_tree.h"
#include <QString>
#include <sqlite3.h>
