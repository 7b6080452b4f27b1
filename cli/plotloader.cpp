#include "cli/commands.h"
#include "cli/exitstatus.h"

#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

// The folder of the running executable, from the kernel's link to it.
std::string executableFolder()
{
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || size_t(length) >= path.size())
        return ".";
    path.resize(size_t(length));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

// The plot command lives in a module of its own that links the display libraries (Qt Gui,
// Svg, the chart's renderer): loading it only here keeps the start of every other command as
// fast as a Qt Core program's. It lies at ../lib/ferrun/ from the executable's folder, in
// the build tree as in an installation.
int cli::runPlot(int argc, char **argv)
{
    const std::string module = executableFolder() + "/" + FERRUN_PLOT_MODULE;
    void *handle = dlopen(module.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "ferrun-cli plot: cannot load the plot module: %s\n", dlerror());
        return cli::ExitNoPlotModule;
    }
    using Entry = int (*)(int, char **);
    const auto entry = reinterpret_cast<Entry>(dlsym(handle, "ferrunPlotMain"));
    if (!entry) {
        std::fprintf(
            stderr, "ferrun-cli plot: %s is not the plot module: %s\n", module.c_str(), dlerror());
        return cli::ExitNoPlotModule;
    }
    // The module stays loaded until the process ends: objects it made may still be
    // destroyed at exit.
    return entry(argc, argv);
}
