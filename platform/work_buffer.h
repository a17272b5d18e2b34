// Work buffers: fixed-size scratch memory that every operation obtains for
// itself, that starts zero-filled, and that goes back before the operation
// returns. Obtaining one can fail; callers then skip what needed it.
#ifndef TAVIK_PLATFORM_WORK_BUFFER_H_
#define TAVIK_PLATFORM_WORK_BUFFER_H_

#include <cstddef>

namespace tavik {

// Returns `size` zero-filled bytes, or nullptr when none can be had.
char* ObtainWorkBuffer(size_t size);

// Gives back a buffer from ObtainWorkBuffer of the same `size`; nullptr is
// ignored.
void ReleaseWorkBuffer(char* buffer, size_t size);

// Owns one work buffer and gives it back when it goes out of scope.
class WorkBuffer {
 public:
  explicit WorkBuffer(size_t size)
      : data_(ObtainWorkBuffer(size)), size_(size) {}
  ~WorkBuffer() { ReleaseWorkBuffer(data_, size_); }
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;

  // False when the buffer could not be obtained; data() is then nullptr.
  explicit operator bool() const { return data_ != nullptr; }
  char* data() const { return data_; }
  size_t size() const { return size_; }

  // Hands the buffer to the caller, who must give it back with
  // ReleaseWorkBuffer(buffer, size()).
  char* Release() {
    char* buffer = data_;
    data_ = nullptr;
    return buffer;
  }

 private:
  char* data_;
  size_t size_;
};

}  // namespace tavik

#endif  // TAVIK_PLATFORM_WORK_BUFFER_H_
