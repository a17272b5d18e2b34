// GrowingArray: a run of values of a trivially copyable type that grows as
// values are appended, for texts and tables whose size is known only once
// they are made. It never throws: when memory runs out it becomes failed,
// appends do nothing from then on, and the caller checks failed() once at
// the end (or whenever it must). Not thread-safe; owns its memory.
#ifndef TAVIK_PLATFORM_GROWING_ARRAY_H_
#define TAVIK_PLATFORM_GROWING_ARRAY_H_

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace tavik {

template <typename T>
class GrowingArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  GrowingArray() = default;
  ~GrowingArray() { std::free(data_); }
  GrowingArray(const GrowingArray&) = delete;
  GrowingArray& operator=(const GrowingArray&) = delete;

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // True once an append or a reservation could not get memory.
  bool failed() const { return failed_; }
  T& operator[](size_t index) { return data_[index]; }
  const T& operator[](size_t index) const { return data_[index]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

  // Makes room for `count` more values without moving them again; false
  // (and failed) when there is no memory.
  bool Reserve(size_t count) {
    if (failed_) return false;
    if (count <= capacity_ - size_) return true;
    size_t capacity = capacity_ < 16 ? 16 : capacity_;
    while (capacity - size_ < count) {
      if (capacity > SIZE_MAX / 2 / sizeof(T)) return Fail();
      capacity *= 2;
    }
    T* grown = static_cast<T*>(std::realloc(data_, capacity * sizeof(T)));
    if (grown == nullptr) return Fail();
    data_ = grown;
    capacity_ = capacity;
    return true;
  }

  // Appends `value`; does nothing once failed.
  void Append(const T& value) {
    if (size_ == capacity_ && !Reserve(1)) return;
    data_[size_++] = value;
  }
  // Appends the `count` values at `values`.
  void Append(const T* values, size_t count) {
    if (count == 0 || !Reserve(count)) return;
    std::memcpy(data_ + size_, values, count * sizeof(T));
    size_ += count;
  }
  // Appends `count` values without setting them and returns where they
  // start, or nullptr when failed.
  T* Extend(size_t count) {
    if (!Reserve(count)) return nullptr;
    T* start = data_ + size_;
    size_ += count;
    return start;
  }

  // Makes the array failed, for a caller that could not make all of it.
  void MarkFailed() { failed_ = true; }

  // Keeps the first `size` values. REQUIRES: size <= size().
  void Truncate(size_t size) { size_ = size; }
  // Empties the array and clears the failure; the memory stays for reuse.
  void Clear() {
    size_ = 0;
    failed_ = false;
  }

 private:
  bool Fail() {
    failed_ = true;
    return false;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  bool failed_ = false;
};

// Bytes, with appends of text.
class ByteString : public GrowingArray<char> {
 public:
  using GrowingArray<char>::Append;
  void Append(std::string_view text) { Append(text.data(), text.size()); }
  std::string_view view() const { return {data(), size()}; }
};

}  // namespace tavik

#endif  // TAVIK_PLATFORM_GROWING_ARRAY_H_
