#include "preview/UViewState.h"

namespace quarvex {

TViewState ViewState;

} // namespace quarvex
