#include "host/elf_image.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "host/unique_fd.h"

namespace launcher {
namespace {

bool ReadAt(int fd, void* into, std::size_t size, uint64_t offset) {
  return ::pread(fd, into, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// Header tables hold entries of at least the structure's size; the fields are read in the
// host's byte order, which is that of the launcher and of the stubs the packer reads.
template <typename Ehdr, typename Phdr, typename Shdr>
std::optional<uint64_t> ImageEnd(int fd) {
  Ehdr header;
  if (!ReadAt(fd, &header, sizeof header, 0)) return std::nullopt;
  if ((header.e_phnum != 0 && header.e_phentsize < sizeof(Phdr)) ||
      (header.e_shnum != 0 && header.e_shentsize < sizeof(Shdr))) {
    return std::nullopt;
  }
  uint64_t phoff = header.e_phoff;
  uint64_t shoff = header.e_shoff;
  uint64_t end = std::max<uint64_t>(header.e_ehsize, sizeof header);
  end = std::max(end, phoff + uint64_t{header.e_phnum} * header.e_phentsize);
  end = std::max(end, shoff + uint64_t{header.e_shnum} * header.e_shentsize);
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    Phdr segment;
    if (!ReadAt(fd, &segment, sizeof segment, phoff + uint64_t{i} * header.e_phentsize)) {
      return std::nullopt;
    }
    end = std::max(end, uint64_t{segment.p_offset} + segment.p_filesz);
  }
  for (unsigned i = 0; i < header.e_shnum; ++i) {
    Shdr section;
    if (!ReadAt(fd, &section, sizeof section, shoff + uint64_t{i} * header.e_shentsize)) {
      return std::nullopt;
    }
    if (section.sh_type != SHT_NOBITS) {
      end = std::max(end, uint64_t{section.sh_offset} + section.sh_size);
    }
  }
  return end;
}

template <typename Ehdr, typename Shdr>
std::optional<std::string> SectionContent(int fd, const char* name, std::size_t maxSize) {
  Ehdr header;
  Shdr names;
  if (!ReadAt(fd, &header, sizeof header, 0) || header.e_shentsize < sizeof(Shdr) ||
      header.e_shstrndx >= header.e_shnum ||
      !ReadAt(fd, &names, sizeof names,
              header.e_shoff + uint64_t{header.e_shstrndx} * header.e_shentsize)) {
    return std::nullopt;
  }
  const std::size_t length = std::strlen(name) + 1;  // the NUL ends a matching name
  std::string candidate(length, '\0');
  for (unsigned i = 0; i < header.e_shnum; ++i) {
    Shdr section;
    if (!ReadAt(fd, &section, sizeof section, header.e_shoff + uint64_t{i} * header.e_shentsize)) {
      return std::nullopt;
    }
    if (!ReadAt(fd, candidate.data(), length, uint64_t{names.sh_offset} + section.sh_name) ||
        std::memcmp(candidate.data(), name, length) != 0) {
      continue;
    }
    if (section.sh_size > maxSize) return std::nullopt;
    std::string content(static_cast<std::size_t>(section.sh_size), '\0');
    if (!ReadAt(fd, content.data(), content.size(), section.sh_offset)) return std::nullopt;
    return content;
  }
  return std::nullopt;
}

// An ELF file opened for reading, with its class (ELFCLASS32 or ELFCLASS64).
UniqueFd OpenElf(const char* path, unsigned char* elfClass) {
  UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  unsigned char ident[EI_NIDENT];
  if (!fd.valid() || !ReadAt(fd.get(), ident, sizeof ident, 0) ||
      std::memcmp(ident, ELFMAG, SELFMAG) != 0) {
    return UniqueFd();
  }
  *elfClass = ident[EI_CLASS];
  return fd;
}

}  // namespace

std::optional<uint64_t> ElfImageSize(const char* path) {
  unsigned char elfClass = 0;
  UniqueFd fd = OpenElf(path, &elfClass);
  if (!fd.valid()) return std::nullopt;
  if (elfClass == ELFCLASS64) return ImageEnd<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(fd.get());
  if (elfClass == ELFCLASS32) return ImageEnd<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(fd.get());
  return std::nullopt;
}

std::optional<std::string> ElfSection(const char* path, const char* name, std::size_t maxSize) {
  unsigned char elfClass = 0;
  UniqueFd fd = OpenElf(path, &elfClass);
  if (!fd.valid()) return std::nullopt;
  if (elfClass == ELFCLASS64) return SectionContent<Elf64_Ehdr, Elf64_Shdr>(fd.get(), name, maxSize);
  if (elfClass == ELFCLASS32) return SectionContent<Elf32_Ehdr, Elf32_Shdr>(fd.get(), name, maxSize);
  return std::nullopt;
}

}  // namespace launcher
