#include "geometry/UXYCoo.h"

#include "platform/UErrors.h"

namespace quarvex {

void RaiseListIndexError(int position)
{
    throw EListError((long long)position - 1);
}

void TListaXY::GetExtent(TExtent& extent) const
{
    TExtent box{0.0, 0.0, 1.0, 1.0};
    const size_t n = size_t(Count());
    if (n > 0) {
        const TCXY& first = At(0);
        box = TExtent{first.X, first.Y, first.X, first.Y};
    }
    for (size_t i = 1; i < n; ++i) {
        const TCXY& p = At(i);
        if (p.X < box.Xmin)
            box.Xmin = p.X;
        if (p.Y < box.Ymin)
            box.Ymin = p.Y;
        if (p.X > box.Xmax)
            box.Xmax = p.X;
        if (p.Y > box.Ymax)
            box.Ymax = p.Y;
    }
    extent = box;
}

} // namespace quarvex
