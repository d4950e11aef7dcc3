#include "engine/runtime/failure.h"

namespace velmora::engine {

Notice noticeFor(FailureKind kind) {
    switch (kind) {
        case FailureKind::NoDecoder:
        case FailureKind::NoAudioOutput:
        case FailureKind::Internal:
            return Notice::MediaError;
        default:
            return Notice::Warning;
    }
}

std::string failureStatusText(const Failure& failure) {
    switch (failure.kind) {
        case FailureKind::UnsupportedAddress:
            return "不支持的地址";
        case FailureKind::HostNotFound:
            return failure.host.empty() ? "找不到主机" : "找不到主机：" + failure.host;
        case FailureKind::ConnectionRefused:
            return "连接被拒绝";
        case FailureKind::TimedOut:
            return "连接超时";
        case FailureKind::HttpError:
            return "服务器错误：HTTP " + std::to_string(failure.httpStatus);
        case FailureKind::NotAudio:
            return "不是音频流";
        case FailureKind::TlsFailure:
            return "安全连接失败（证书无效）";
        case FailureKind::TooManyRedirects:
            return "重定向次数过多";
        case FailureKind::FileNotFound:
            return "找不到文件";
        case FailureKind::ReconnectsExhausted:
            return "连接中断，重连失败";
        case FailureKind::ConnectionLost:
            return "连接中断";
        case FailureKind::NoDecoder:
            return "无法解码此音频格式";
        case FailureKind::NoAudioOutput:
            return "没有可用的音频输出";
        case FailureKind::Internal:
            return "播放器内部错误";
    }
    return "播放器内部错误";
}

}  // namespace velmora::engine
