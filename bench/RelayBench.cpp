// The whole path of the bytes, from a client's read of the relay port to
// the logger's read of the tap: the receiver's bytes fed to the real port,
// read through the splitter driver, counted and drained on the tap.
#include <TempDir.h>
#include <benchmark/benchmark.h>
#include <cehost/Device.h>
#include <pkfuncs.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace {

void SetValue(HKEY key, const WCHAR* name, DWORD type, const void* data, DWORD size) {
  RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
}

void RelayToTap(benchmark::State& bench) {
  const DWORD chunk = static_cast<DWORD>(bench.range(0));
  cetest::TempDir root;
  cetest::InstallDriver(root.Path(), RAVELINK_DLL);
  cehost::BootOptions options;
  options.root = root.Path();
  options.ports = {"COM5:=test"};
  std::string error;
  auto device = cehost::InProcessDevice::Boot(options, &error);
  if (!device) {
    bench.SkipWithError(error.c_str());
    return;
  }
  HKEY key;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("Drivers\\BuiltIn\\Ravelink"), 0, NULL, 0, 0, NULL, &key, NULL);
  const WCHAR dll[] = TEXT("Ravelink.Dll");
  const WCHAR prefix[] = TEXT("COM");
  const DWORD index = 6, source = 5, tap = 7;
  SetValue(key, TEXT("Dll"), REG_SZ, dll, sizeof dll);
  SetValue(key, TEXT("Prefix"), REG_SZ, prefix, sizeof prefix);
  SetValue(key, TEXT("Index"), REG_DWORD, &index, sizeof index);
  SetValue(key, TEXT("srcIndex"), REG_DWORD, &source, sizeof source);
  SetValue(key, TEXT("monIndex"), REG_DWORD, &tap, sizeof tap);
  RegCloseKey(key);
  if (ActivateDevice(TEXT("Drivers\\BuiltIn\\Ravelink"), 0) == INVALID_HANDLE_VALUE) {
    bench.SkipWithError("the splitter did not activate");
    return;
  }
  HANDLE relayPort = CreateFileW(TEXT("COM6:"), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  HANDLE tapPort = CreateFileW(TEXT("COM7:"), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (relayPort == INVALID_HANDLE_VALUE || tapPort == INVALID_HANDLE_VALUE) {
    bench.SkipWithError("the relay or the tap did not open");
    return;
  }
  COMMTIMEOUTS atOnce = {MAXDWORD, 0, 0, 0, 0};
  SetCommTimeouts(relayPort, &atOnce);

  const std::string sentence = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
  std::string bytes;
  while (bytes.size() < chunk) bytes += sentence;
  bytes.resize(chunk);
  cehost::TestPort* receiver = device->Port("COM5:");
  std::vector<char> relayed(chunk), tapped(1200);
  for (auto _ : bench) {
    receiver->Feed(bytes);
    DWORD done = 0;
    ReadFile(relayPort, relayed.data(), chunk, &done, NULL);
    COMSTAT status = {};
    ClearCommError(tapPort, NULL, &status);
    DWORD drained = 0;
    ReadFile(tapPort, tapped.data(), status.cbInQue < 1199 ? status.cbInQue : 1199, &drained, NULL);
    if (done != chunk || drained != chunk) {
      bench.SkipWithError("bytes went missing on the way");
      break;
    }
  }
  bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) * chunk);
  CloseHandle(tapPort);
  CloseHandle(relayPort);
}
BENCHMARK(RelayToTap)->Arg(72)->Arg(600)->Arg(1199);

}  // namespace
