// Coordinate lists: growable, owning lists of coordinate pairs, integers and
// doubles, with 1-based positions and the bounding box of a pair list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quarvex {

struct TCXY {
    double X = 0.0;
    double Y = 0.0;
};

struct TNInteger {
    int32_t Value = 0;
};

struct TNDouble {
    double Value = 0.0;
};

// Bounding box in the order of the shapefile format.
struct TExtent {
    double Xmin = 0.0;
    double Ymin = 0.0;
    double Xmax = 0.0;
    double Ymax = 0.0;
};

// Items by value in fixed-size chunks: no allocation per item, and an item
// never moves, so a reference stays valid until Clear. Clear keeps the chunks
// for the next fill, which is how the passes reuse one list per shape.
template <class TItem>
class TChunkedList {
public:
    static constexpr size_t kChunkShift = 10;
    static constexpr size_t kChunkSize = size_t(1) << kChunkShift;

    int Count() const { return int(count_); }

    void Append(const TItem& item)
    {
        if (count_ == chunks_.size() * kChunkSize)
            chunks_.push_back(std::make_unique<TItem[]>(kChunkSize));
        chunks_[count_ >> kChunkShift][count_ & (kChunkSize - 1)] = item;
        ++count_;
    }

    // The item at 1-based position; raises EListError outside 1..Count.
    TItem& Item(int position)
    {
        CheckPosition(position);
        return At(size_t(position - 1));
    }
    const TItem& Item(int position) const
    {
        CheckPosition(position);
        return At(size_t(position - 1));
    }

    // Unchecked access by zero-based index, for loops over 0..Count-1.
    TItem& At(size_t index) { return chunks_[index >> kChunkShift][index & (kChunkSize - 1)]; }
    const TItem& At(size_t index) const { return chunks_[index >> kChunkShift][index & (kChunkSize - 1)]; }

    void Clear() { count_ = 0; }

private:
    void CheckPosition(int position) const;

    std::vector<std::unique_ptr<TItem[]>> chunks_;
    size_t count_ = 0;
};

// Raises the list-index error for a 1-based position.
[[noreturn]] void RaiseListIndexError(int position);

template <class TItem>
void TChunkedList<TItem>::CheckPosition(int position) const
{
    if (position < 1 || size_t(position) > count_)
        RaiseListIndexError(position);
}

class TListaXY {
public:
    int Count() const { return items_.Count(); }
    void Add(double X, double Y) { items_.Append(TCXY{X, Y}); }
    // The item at 1-based position, owned by the list; raises EListError.
    TCXY& Item(int position) { return items_.Item(position); }
    const TCXY& Item(int position) const { return items_.Item(position); }
    const TCXY& At(size_t index) const { return items_.At(index); }
    void Clear() { items_.Clear(); }
    // Bounding box of all items; (0, 0, 1, 1) for an empty list.
    void GetExtent(TExtent& extent) const;

private:
    TChunkedList<TCXY> items_;
};

class TListaInt {
public:
    int Count() const { return items_.Count(); }
    void Add(int32_t value) { items_.Append(TNInteger{value}); }
    TNInteger& Item(int position) { return items_.Item(position); }
    const TNInteger& Item(int position) const { return items_.Item(position); }
    void Clear() { items_.Clear(); }

private:
    TChunkedList<TNInteger> items_;
};

// Per-vertex Z or M values; its users know the count from the record they read.
class TListaDouble {
public:
    void Add(double value) { items_.Append(TNDouble{value}); }
    TNDouble& Item(int position) { return items_.Item(position); }
    const TNDouble& Item(int position) const { return items_.Item(position); }
    void Clear() { items_.Clear(); }

private:
    TChunkedList<TNDouble> items_;
};

} // namespace quarvex
