// A parser of its own.
#include "CLI/App.hpp"
