#include "converter_library.h"

namespace {

template <typename Fn>
bool resolve(platform::LibraryHandle handle, const char* name, Fn& fn, std::string& error) {
    fn = reinterpret_cast<Fn>(platform::librarySymbol(handle, name));
    if (fn == nullptr) error = std::string("the converter library has no export ") + name;
    return fn != nullptr;
}

}  // namespace

bool ConverterLibrary::load(const std::string& path, std::string& error) {
    handle_ = platform::loadLibrary(path.c_str());
    if (handle_ == nullptr) {
        error = "cannot load the converter library " + path + ": " + platform::lastLibraryError();
        return false;
    }
    return resolve(handle_, "ORBEL_DllInit", DllInit, error) && resolve(handle_, "ORBEL_DllDeInit", DllDeInit, error) &&
           resolve(handle_, "ORBEL_ConvWriteData", ConvWriteData, error) &&
           resolve(handle_, "ORBEL_ConvGetByteCount", ConvGetByteCount, error) &&
           resolve(handle_, "ORBEL_ConvReadData", ConvReadData, error) &&
           resolve(handle_, "ORBEL_ConvAddParameterDescription", ConvAddParameterDescription, error) &&
           resolve(handle_, "ORBEL_ConvClearParameterList", ConvClearParameterList, error) &&
           resolve(handle_, "ORBEL_ConvBuildBlockDownloadBinary", ConvBuildBlockDownloadBinary, error) &&
           resolve(handle_, "ORBEL_ConvStartBlockDownloadFile", ConvStartBlockDownloadFile, error) &&
           resolve(handle_, "ORBEL_ConvStartFirmwareDownload", ConvStartFirmwareDownload, error) &&
           resolve(handle_, "ORBEL_ConvGetBlockDownloadProgress", ConvGetBlockDownloadProgress, error) &&
           resolve(handle_, "ORBEL_ConvGetFirmwareDownloadProgress", ConvGetFirmwareDownloadProgress, error) &&
           resolve(handle_, "ORBEL_ConvGetSWRevision", ConvGetSWRevision, error);
}
