#include "ui/PngFile.h"

#include "base/Com.h"

#include <wincodec.h>

namespace {

// Spelt out here so that no import library of the imaging component is
// needed.
const CLSID kImagingFactory = {
    0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const GUID kPngContainer = {
    0x1b7cfaf4, 0x713f, 0x473c, {0xbb, 0xcd, 0x61, 0x37, 0x42, 0x5f, 0xae, 0xaf}};
const GUID kBgr24 = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0c}};

int EncodePng(IWICImagingFactory* factory, HBITMAP bitmap, const wchar_t* path, bool& opened)
{
    ComPtr<IWICBitmap> source;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    UINT width = 0;
    UINT height = 0;
    WICPixelFormatGUID format = kBgr24;
    if (FAILED(factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha,
                                                source.Put())) ||
        FAILED(source->GetSize(&width, &height)) || FAILED(factory->CreateStream(stream.Put())) ||
        FAILED(factory->CreateEncoder(kPngContainer, nullptr, encoder.Put())) ||
        FAILED(stream->InitializeFromFilename(path, GENERIC_WRITE))) {
        return 0;
    }
    opened = true;
    return SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
           SUCCEEDED(encoder->CreateNewFrame(frame.Put(), options.Put())) &&
           SUCCEEDED(frame->Initialize(options.Get())) &&
           SUCCEEDED(frame->SetSize(width, height)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
           SUCCEEDED(frame->WriteSource(source.Get(), nullptr)) && SUCCEEDED(frame->Commit()) &&
           SUCCEEDED(encoder->Commit());
}

} // namespace

int SaveBitmapAsPng(HBITMAP bitmap, const wchar_t* path)
{
    if (!bitmap || !path || !*path) {
        return 0;
    }
    ComPtr<IWICImagingFactory> factory =
        CreateByClassId<IWICImagingFactory>(kImagingFactory, __uuidof(IWICImagingFactory));
    if (!factory) {
        return 0;
    }
    // The stream closes the file as its last reference goes, inside
    // EncodePng; only then can a file it began be deleted.
    bool opened = false;
    if (EncodePng(factory.Get(), bitmap, path, opened)) {
        return 1;
    }
    if (opened) {
        DeleteFileW(path);
    }
    return 0;
}
