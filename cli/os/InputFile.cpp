#include "cli/os/InputFile.h"

namespace lu14::cli {

InputText ReadInputFile(const std::filesystem::path& path, std::size_t limit, const std::function<bool()>& stop) {
  InputFile file(path, stop);
  if (file.Fault() != InputFault::None) return {{}, file.Fault()};
  if (file.KnownSize() && *file.KnownSize() > limit) return {{}, InputFault::TooLarge};
  // A file whose size is not known beforehand (a device, a pipe) is read up to
  // one byte past the limit: that byte alone says it is too large.
  InputText text;
  text.bytes.resize(limit + 1);
  std::size_t got = 0;
  while (got < text.bytes.size()) {
    const std::size_t piece = file.Read(text.bytes.data() + got, text.bytes.size() - got);
    if (piece == 0) break;
    got += piece;
  }
  if (file.Fault() != InputFault::None) return {{}, file.Fault()};
  if (got > limit) return {{}, InputFault::TooLarge};
  text.bytes.resize(got);
  return text;
}

InputFileBuffer::int_type InputFileBuffer::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  const std::size_t got = file_.Read(piece_, sizeof piece_);
  if (got == 0) return traits_type::eof();
  setg(piece_, piece_, piece_ + got);
  return traits_type::to_int_type(*gptr());
}

}  // namespace lu14::cli
