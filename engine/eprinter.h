#pragma once

#include "common/eprinter.h"

namespace engine {

using common::EPrinter;

}  // namespace engine
