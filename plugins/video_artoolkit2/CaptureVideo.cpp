#include "CaptureVideo.h"

#include <osg/Notify>

#include <opencv2/imgproc.hpp>

#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>

namespace {

/// Every capture thread of the process, so that they are all stopped before the process's
/// libraries are torn down at exit, even though the program never destroys its video.
class LiveCaptures {
public:
    static LiveCaptures& instance() {
        static LiveCaptures captures;
        return captures;
    }
    void add(osgART::Video* video) {
        std::lock_guard<std::mutex> lock(_mutex);
        _videos.insert(video);
    }
    void remove(osgART::Video* video) {
        std::lock_guard<std::mutex> lock(_mutex);
        _videos.erase(video);
    }
    ~LiveCaptures() {
        std::set<osgART::Video*> videos;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            videos.swap(_videos);
        }
        for (osgART::Video* video : videos) video->close(true);
    }

private:
    std::mutex _mutex;
    std::set<osgART::Video*> _videos;
};

FrameSource::Options optionsFromEnvironment() {
    FrameSource::Options options;
    if (const char* where = std::getenv("QUORV_VIDEO")) options.location = where;
    return options;
}

}  // namespace

CaptureVideo::CaptureVideo() : CaptureVideo(optionsFromEnvironment()) {}

CaptureVideo::CaptureVideo(FrameSource::Options options)
    : _options(std::move(options)), _readyFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    LiveCaptures::instance();  // constructed before any thread starts, destroyed after it ends
}

CaptureVideo::~CaptureVideo() {
    close(true);
    if (_readyFd >= 0) ::close(_readyFd);
}

bool CaptureVideo::open() {
    close(true);
    _source = std::make_unique<FrameSource>(_options);
    std::string why;
    int width = _options.width, height = _options.height;
    if (_source->open(&why)) {
        _sourceOpen = true;
        const cv::Size size = _source->size();
        if (size.width > 0 && size.height > 0) {
            width = size.width;
            height = size.height;
        }
    } else {
        osg::notify(osg::WARN) << "Quorv video: " << why
                               << "; showing a black picture and retrying every second"
                               << std::endl;
    }
    allocateImage(width, height, 1, GL_BGR, GL_UNSIGNED_BYTE, 1);
    setInternalTextureFormat(GL_RGB);
    std::memset(data(), 0, getTotalSizeInBytes());
    dirty();
    return true;
}

void CaptureVideo::start() {
    if (_running || !_source) return;
    if (_thread.joinable()) _thread.join();  // a thread told to stop without being waited for
    _running = true;
    LiveCaptures::instance().add(this);
    _thread = std::thread(&CaptureVideo::captureLoop, this);
}

void CaptureVideo::requestStop() {
    std::lock_guard<std::mutex> lock(_mutex);
    _running = false;
    _wake.notify_all();
}

void CaptureVideo::stop() {
    requestStop();
    if (_thread.joinable()) _thread.join();
    LiveCaptures::instance().remove(this);
}

void CaptureVideo::close(bool waitForThread) {
    requestStop();
    // Without waiting, the thread finishes on its own; a later close or the destructor joins it.
    if (waitForThread && _thread.joinable()) _thread.join();
    if (_thread.joinable()) return;
    LiveCaptures::instance().remove(this);
    _source.reset();
    _sourceOpen = false;
}

bool CaptureVideo::waitOrStop(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> lock(_mutex);
    return _wake.wait_for(lock, duration, [this] { return !_running.load(); });
}

void CaptureVideo::publish(cv::Mat& frame) {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(_mutex);
    std::swap(frame, _latest);
    _fresh = true;
    _latestTime = now;
    if (_readyFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(_readyFd, &one, sizeof one);
    }
}

void CaptureVideo::captureLoop() {
    pthread_setname_np(pthread_self(), "quorv-capture");
    _threadId = static_cast<long>(syscall(SYS_gettid));
    const cv::Size size(s(), t());
    cv::Mat raw, frame;
    bool reportedLoss = false;
    while (_running) {
        if (!_source->isOpen()) {
            std::string why;
            if (!_source->open(&why)) {
                if (waitOrStop(kRetryInterval)) break;
                continue;
            }
            _sourceOpen = true;
            if (reportedLoss)
                osg::notify(osg::WARN) << "Quorv video: " << _source->description()
                                         << " is back" << std::endl;
            reportedLoss = false;
        }
        if (!_source->read(raw)) {
            _source->close();
            _sourceOpen = false;
            if (!reportedLoss)
                osg::notify(osg::WARN) << "Quorv video: lost " << _source->description()
                                       << "; showing a black picture and retrying every second"
                                       << std::endl;
            reportedLoss = true;
            cv::Mat black(size, CV_8UC3, cv::Scalar::all(0));
            publish(black);
            continue;
        }
        // The picture keeps the size the video was opened with.
        if (raw.channels() == 1)
            cv::cvtColor(raw, raw, cv::COLOR_GRAY2BGR);
        else if (raw.channels() == 4)
            cv::cvtColor(raw, raw, cv::COLOR_BGRA2BGR);
        if (raw.size() != size)
            cv::resize(raw, frame, size, 0, 0, cv::INTER_AREA);
        else
            std::swap(raw, frame);
        publish(frame);
    }
    _threadId = 0;
}

bool CaptureVideo::update(const osg::FrameStamp* frameStamp) {
    if (frameStamp) {
        if (frameStamp->getFrameNumber() == _lastUpdateFrame) return false;
        _lastUpdateFrame = frameStamp->getFrameNumber();
    }
    std::lock_guard<std::mutex> lock(_mutex);
    // Whatever becomes of the waiting frame, it has been looked at: the signal is reset, so
    // that a frame loop waiting on it does not wake again for the same frame.
    if (_readyFd >= 0) {
        uint64_t count;
        [[maybe_unused]] const ssize_t n = ::read(_readyFd, &count, sizeof count);
    }
    if (!_fresh || _latest.empty() || !data()) return false;
    const size_t bytes = static_cast<size_t>(_latest.total() * _latest.elemSize());
    if (!_latest.isContinuous() || bytes != getTotalSizeInBytes()) return false;
    std::memcpy(data(), _latest.data, bytes);
    _fresh = false;
    _frameTime = _latestTime;
    ++_frameCount;
    dirty();
    return true;
}
