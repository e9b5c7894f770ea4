#include "app/process_state.h"

namespace kv {

std::atomic<int> g_serverLocks{0};
platform::WindowHandle g_oeHostWindow = 0;
bool g_bFoldersSecondLayout = false;
int g_bReportEmptyFolders = 0;

void ResetProcessState() {
  g_oeHostWindow = 0;
  g_bFoldersSecondLayout = false;
  g_bReportEmptyFolders = 0;
}

}  // namespace kv
