// Compiling this checks the SDK's layouts (the headers assert them) from C++.
#include "AKWSPlugin.h"
#include "Isapi2.h"
#include "KWSPlugin.h"
