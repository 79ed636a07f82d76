#include "program_run.h"

bool StartProgram(const std::string& exe, const std::string& arguments, ProgramRun* run) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  ZeroMemory(&run->process, sizeof run->process);
  std::string command = "\"" + exe + "\"";
  if (!arguments.empty()) command += " " + arguments;
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  // Started from another folder: the program must find its files itself.
  run->startTick = GetTickCount();
  return CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, "C:\\", &startup,
                        &run->process) != 0;
}

bool HasEnded(const ProgramRun& run) {
  return !run.process.hProcess || WaitForSingleObject(run.process.hProcess, 0) == WAIT_OBJECT_0;
}

int WaitExit(ProgramRun* run, DWORD timeoutMs, DWORD* endTick) {
  if (!run->process.hProcess) return -1;
  if (WaitForSingleObject(run->process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    KillRun(run);
    return -1;
  }
  if (endTick) *endTick = GetTickCount();
  DWORD code = 0;
  GetExitCodeProcess(run->process.hProcess, &code);
  CloseHandle(run->process.hProcess);
  CloseHandle(run->process.hThread);
  ZeroMemory(&run->process, sizeof run->process);
  return int(code);
}

void KillRun(ProgramRun* run) {
  if (!run->process.hProcess) return;
  TerminateProcess(run->process.hProcess, 99);
  WaitForSingleObject(run->process.hProcess, 5000);
  CloseHandle(run->process.hProcess);
  CloseHandle(run->process.hThread);
  ZeroMemory(&run->process, sizeof run->process);
}

std::vector<uint32_t> CaptureScreen(int left, int top, int width, int height) {
  std::vector<uint32_t> pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib && bits) {
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY);
    GdiFlush();
    const uint32_t* source = static_cast<const uint32_t*>(bits);
    pixels.assign(source, source + size_t(width) * height);
    for (uint32_t& pixel : pixels) pixel &= 0x00FFFFFF;
    SelectObject(memory, old);
    DeleteObject(dib);
  } else {
    pixels.assign(size_t(width) * height, 0);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}
