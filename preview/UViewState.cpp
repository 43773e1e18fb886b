#include "preview/UViewState.h"

namespace quarvex {

TViewState ViewState;
uint8_t PointRadius = 0;

} // namespace quarvex
