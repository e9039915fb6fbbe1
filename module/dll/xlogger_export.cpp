#include "xlogger.h"

#include <cstring>
#include <string_view>

#include "mem_writer.h"

namespace XLOGGER {
namespace {

std::u16string_view View(const wchar_t* s) {
  return s ? std::u16string_view(reinterpret_cast<const char16_t*>(s)) : std::u16string_view();
}

std::string_view Text(const char* s, int length) {
  if (!s) return {};
  return length < 0 ? std::string_view(s) : std::string_view(s, static_cast<size_t>(length));
}

}  // namespace

XLogger::XLogger() : m_writer(nullptr) {}

XLogger::~XLogger() {
  if (m_writer) m_writer->Release();
}

XLogger& XLogger::operator=(const XLogger& other) {
  if (other.m_writer) other.m_writer->AddRef();
  if (m_writer) m_writer->Release();
  m_writer = other.m_writer;
  return *this;
}

int XLogger::Open(const wchar_t* module_path, const wchar_t* name, int level, const wchar_t* config) {
  if (m_writer) return 0;
  try {
    m_writer = CMemWriter::Open(level, View(module_path), View(name), View(config));
  } catch (...) {
    m_writer = nullptr;
  }
  return m_writer ? 1 : 0;
}

int XLogger::Write(const wchar_t* name, XLogLevel level, const char* text, int length) {
  if (!m_writer || !name || !text) return 0;
  try {
    return m_writer->Write(View(name), level, Text(text, length));
  } catch (...) {
    return 0;
  }
}

int XLogger::Write2(const void* data, unsigned size, XLogLevel level, const char* caption, int length) {
  if (!m_writer) return 0;
  try {
    return m_writer->Write2(data, size, level, Text(caption, length));
  } catch (...) {
    return 0;
  }
}

void XLogger::SetLevel(XLogLevel level) {
  if (m_writer) m_writer->SetLevel(level);
}

}  // namespace XLOGGER
