// Prints the schema as MOF class declarations, so the classes can be
// compiled into another CIM server.
#pragma once

#include <string>

#include "Schema.h"

namespace kest {

std::string printMof(const Schema& schema);

// A MOF string literal: the text in double quotes with '"', '\' and control
// characters escaped.
std::string mofString(const std::string& text);

}  // namespace kest
