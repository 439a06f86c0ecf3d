#include "canvas/GLBoardRenderer.hpp"

#include <QGuiApplication>
#include <QMetaObject>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLShaderProgram>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <future>
#include <memory>
#include <new>
#include <thread>
#include <unordered_map>
#include <utility>

#include "canvas/CanvasTransform.hpp"
#include "canvas/SampleCoverage.hpp"
#include "model/ParallelFor.hpp"

#ifndef GL_FRAMEBUFFER_SRGB
#define GL_FRAMEBUFFER_SRGB 0x8DB9
#endif

namespace corvane {

namespace {

// Background of the canvas: reads back as (19, 20, 26) in 8 bits.
constexpr float kBackground[4] = {0.075f, 0.08f, 0.1f, 1.0f};
constexpr int kSamples = 4;
// The side of the target the warm-up draws into: the code a pass needs does not depend on the size.
constexpr int kWarmUpPixels = 64;
// Largest vertex count of one draw call: a multiple of 3 and of 2, well inside GLsizei.
constexpr std::int64_t kMaxDrawVertices = std::int64_t{3} << 28;
// Where OpenGL rasterises on the processor, a layer is handed over in pieces of this many vertices (a multiple
// of 3 and of 2), each flushed: the rasteriser's threads then draw one piece while this thread prepares the
// next, instead of waiting for the whole layer, and the driver holds one piece's work at a time. Measured on
// a large board, 16,384 triangles a piece drew its first frame a fifth sooner than whole layers, and larger
// or smaller pieces less so.
constexpr std::int64_t kFlushedPieceVertices = 3 * 16384;

const char* const kMeshVertexShader = R"(#version 330 core
layout(location = 0) in vec2 position;
// (x scale, centre x, y scale, centre y): board millimetres to clip space
uniform vec4 xform;
void main() {
    gl_Position = vec4((position.x - xform.y) * xform.x, (position.y - xform.w) * xform.z, 0.0, 1.0);
}
)";

const char* const kMeshFragmentShader = R"(#version 330 core
uniform vec4 color;
out vec4 fragColor;
void main() {
    fragColor = color;
}
)";

// A full-target strip without vertex data: texture row 0 is the bottom row of the target.
const char* const kQuadVertexShader = R"(#version 330 core
out vec2 uv;
const vec2 corners[4] = vec2[4](vec2(-1.0, -1.0), vec2(1.0, -1.0), vec2(-1.0, 1.0), vec2(1.0, 1.0));
void main() {
    vec2 p = corners[gl_VertexID];
    uv = p * 0.5 + 0.5;
    gl_Position = vec4(p, 0.0, 1.0);
}
)";

const char* const kQuadFragmentShader = R"(#version 330 core
uniform sampler2D layerImage;
in vec2 uv;
out vec4 fragColor;
void main() {
    fragColor = texture(layerImage, uv);
}
)";

float unit(float v) { return v >= 0.0f ? std::min(v, 1.0f) : 0.0f; } // NaN gives 0

// Whether the context's OpenGL rasterises on the processor (Mesa's llvmpipe and softpipe). Needs it current.
bool rasterisesOnProcessor(QOpenGLContext* context) {
    const auto* renderer = reinterpret_cast<const char*>(context->functions()->glGetString(GL_RENDERER));
    return renderer && (std::strstr(renderer, "llvmpipe") || std::strstr(renderer, "softpipe"));
}

} // namespace

namespace gl {

// The GL objects of one context: programs, vertex buffers of the layers and the scratch targets, and the
// drawing of one frame. Every member function needs that context current.
class Scene {
public:
    using Layer = GLBoardRenderer::RenderLayer;

    explicit Scene(QOpenGLContext* context) : context_(context), f_(context->extraFunctions()) {}
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
    ~Scene() = default; // release() frees the GL objects while the context is current

    bool initialize();
    void release();
    QOpenGLContext* context() const { return context_; }
    std::int64_t trianglesLeftOut() const { return trianglesLeftOut_; }

    // Clears `target` to the background and composites every visible layer onto it.
    void render(const std::vector<Layer>& layers, GLuint target, QSize pixels, double viewWidth,
                double viewHeight, const CameraState& camera);
    QImage readBack(const std::vector<Layer>& layers, QSize pixels, double devicePixelRatio,
                    const CameraState& camera);
    // The pixels of `fbo` as an image: premultiplied RGBA, top row first.
    QImage readPixels(GLuint fbo, QSize pixels, double devicePixelRatio);

private:
    struct Buffer {
        GLuint name = 0;
        std::uint64_t version = 0;
        bool failed = false;
    };

    bool ensureScratch(QSize pixels);
    static QRect layerRect(const Layer& layer, const CanvasTransform::Clip& clip, QSize pixels);
    void releaseScratch();
    GLuint bufferFor(const Layer& layer);
    void dropStaleBuffers(const std::vector<Layer>& layers);
    // Draws from the layer's buffer, or from its arrays in place when the context reads them there.
    void drawLayer(const Layer& layer, GLuint buffer, const CanvasTransform::Clip& clip, QSize pixels);
    // Draws in place the triangles of `count` vertices of `mesh` from `first` that can cover a sample of the
    // target, in pieces.
    void drawCovering(const TriangleMesh& mesh, std::int64_t first, std::int64_t count, const TargetTransform& target);
    // The sample points of the multisampled target, where its driver tells them.
    void readSamplePattern();
    // Draws `count` vertices from `first` as `mode`, in pieces a draw call can take; `attach` points the
    // position attribute at a vertex of the layer.
    template <class Attach> void drawRange(GLenum mode, std::int64_t first, std::int64_t count, Attach&& attach);

    QOpenGLContext* context_;
    QOpenGLExtraFunctions* f_;
    std::unique_ptr<QOpenGLShaderProgram> mesh_;
    std::unique_ptr<QOpenGLShaderProgram> quad_;
    int xformLocation_ = -1;
    int colorLocation_ = -1;
    int layerImageLocation_ = -1;
    GLuint meshVao_ = 0;
    GLuint quadVao_ = 0;
    GLuint msaaFbo_ = 0;
    GLuint msaaColor_ = 0;
    GLuint resolveFbo_ = 0;
    GLuint resolveTexture_ = 0;
    QSize scratchSize_;
    bool scratchWarned_ = false;
    std::unordered_map<std::uint64_t, Buffer> buffers_;
    // On a processor rasteriser the compatibility profile lets draws read the layers' arrays in place: a
    // buffer object there is one more copy of every vertex in the program's memory.
    bool inPlace_ = false;
    std::int64_t pieceVertices_ = kMaxDrawVertices;
    // Drawn in place, the triangles that cover no sample are left out (SampleCoverage.hpp), once the sample
    // points are known; the ones kept are copied here first.
    SamplePattern samples_;
    std::int64_t trianglesLeftOut_ = 0; // in the last frame
    std::unique_ptr<float[]> kept_;
    std::int64_t keptCapacity_ = 0;
    // One piece of a mesh's triangles laid out flat, for a draw or an upload.
    std::vector<float> flat_;
};

bool Scene::initialize() {
    if (!f_) return false;
    const QSurfaceFormat format = context_->format();
    if (context_->isOpenGLES() || format.version() < qMakePair(3, 3)) return false;
    const bool processor = rasterisesOnProcessor(context_);
    inPlace_ = processor && format.profile() == QSurfaceFormat::CompatibilityProfile;
    pieceVertices_ = processor ? kFlushedPieceVertices : kMaxDrawVertices;
    mesh_ = std::make_unique<QOpenGLShaderProgram>();
    quad_ = std::make_unique<QOpenGLShaderProgram>();
    if (!mesh_->addShaderFromSourceCode(QOpenGLShader::Vertex, kMeshVertexShader) ||
        !mesh_->addShaderFromSourceCode(QOpenGLShader::Fragment, kMeshFragmentShader) || !mesh_->link() ||
        !quad_->addShaderFromSourceCode(QOpenGLShader::Vertex, kQuadVertexShader) ||
        !quad_->addShaderFromSourceCode(QOpenGLShader::Fragment, kQuadFragmentShader) || !quad_->link()) {
        mesh_.reset();
        quad_.reset();
        return false;
    }
    xformLocation_ = mesh_->uniformLocation("xform");
    colorLocation_ = mesh_->uniformLocation("color");
    layerImageLocation_ = quad_->uniformLocation("layerImage");
    // The core profile draws nothing without a bound vertex array, even for the attribute-less quad.
    f_->glGenVertexArrays(1, &meshVao_);
    f_->glGenVertexArrays(1, &quadVao_);
    f_->glBindVertexArray(meshVao_);
    f_->glEnableVertexAttribArray(0);
    f_->glBindVertexArray(0);
    return true;
}

void Scene::release() {
    for (auto& [serial, buffer] : buffers_) {
        if (buffer.name) f_->glDeleteBuffers(1, &buffer.name);
    }
    buffers_.clear();
    releaseScratch();
    if (meshVao_) f_->glDeleteVertexArrays(1, &meshVao_);
    if (quadVao_) f_->glDeleteVertexArrays(1, &quadVao_);
    meshVao_ = quadVao_ = 0;
    mesh_.reset();
    quad_.reset();
}

void Scene::releaseScratch() {
    if (msaaFbo_) f_->glDeleteFramebuffers(1, &msaaFbo_);
    if (msaaColor_) f_->glDeleteRenderbuffers(1, &msaaColor_);
    if (resolveFbo_) f_->glDeleteFramebuffers(1, &resolveFbo_);
    if (resolveTexture_) f_->glDeleteTextures(1, &resolveTexture_);
    msaaFbo_ = msaaColor_ = resolveFbo_ = resolveTexture_ = 0;
    scratchSize_ = QSize();
}

// One multisampled target and one resolve texture serve every layer in turn, so memory does not grow with
// the number of layers.
bool Scene::ensureScratch(QSize pixels) {
    if (msaaFbo_ && scratchSize_ == pixels) return true;
    releaseScratch();
    f_->glGenRenderbuffers(1, &msaaColor_);
    f_->glBindRenderbuffer(GL_RENDERBUFFER, msaaColor_);
    f_->glRenderbufferStorageMultisample(GL_RENDERBUFFER, kSamples, GL_RGBA8, pixels.width(), pixels.height());
    f_->glGenFramebuffers(1, &msaaFbo_);
    f_->glBindFramebuffer(GL_FRAMEBUFFER, msaaFbo_);
    f_->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, msaaColor_);
    bool complete = f_->glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;

    f_->glGenTextures(1, &resolveTexture_);
    f_->glBindTexture(GL_TEXTURE_2D, resolveTexture_);
    f_->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, pixels.width(), pixels.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     nullptr);
    f_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    f_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    f_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    f_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    f_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    f_->glGenFramebuffers(1, &resolveFbo_);
    f_->glBindFramebuffer(GL_FRAMEBUFFER, resolveFbo_);
    f_->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, resolveTexture_, 0);
    complete = complete && f_->glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (!complete) {
        if (!scratchWarned_) {
            qWarning("Board canvas: no %d x %d layer target could be made; layers are not drawn", pixels.width(),
                     pixels.height());
            scratchWarned_ = true;
        }
        releaseScratch();
        return false;
    }
    scratchSize_ = pixels;
    if (inPlace_) readSamplePattern();
    return true;
}

void Scene::readSamplePattern() {
    samples_ = {};
    f_->glBindFramebuffer(GL_FRAMEBUFFER, msaaFbo_);
    GLint count = 0;
    f_->glGetIntegerv(GL_SAMPLES, &count);
    for (GLint i = 0; i < count; ++i) {
        GLfloat at[2] = {-1, -1};
        f_->glGetMultisamplefv(GL_SAMPLE_POSITION, static_cast<GLuint>(i), at);
        // A position the driver does not give leaves every triangle in.
        if (!(at[0] >= 0 && at[0] <= 1 && at[1] >= 0 && at[1] <= 1)) {
            samples_ = {};
            return;
        }
        samples_.x.push_back(at[0]);
        samples_.y.push_back(at[1]);
    }
}

void Scene::dropStaleBuffers(const std::vector<Layer>& layers) {
    for (auto it = buffers_.begin(); it != buffers_.end();) {
        const bool present = std::any_of(layers.begin(), layers.end(),
                                         [&](const Layer& l) { return l.serial == it->first; });
        if (present) {
            ++it;
            continue;
        }
        if (it->second.name) f_->glDeleteBuffers(1, &it->second.name);
        it = buffers_.erase(it);
    }
}

// The layer's vertices, dark then clear, in one buffer; uploaded when first drawn after a change.
GLuint Scene::bufferFor(const Layer& layer) {
    Buffer& buffer = buffers_[layer.serial];
    if (buffer.name && buffer.version == layer.version) return buffer.name;
    if (buffer.failed && buffer.version == layer.version) return 0;
    buffer.version = layer.version;
    buffer.failed = false;
    if (!buffer.name) f_->glGenBuffers(1, &buffer.name);
    const auto darkBytes = static_cast<GLsizeiptr>(layer.darkVertices * 2 * sizeof(float));
    const auto clearBytes = static_cast<GLsizeiptr>(layer.clearVertices * 2 * sizeof(float));
    const auto lineBytes = static_cast<GLsizeiptr>(layer.lineVertices * 2 * sizeof(float));
    while (f_->glGetError() != GL_NO_ERROR) {
    }
    f_->glBindBuffer(GL_ARRAY_BUFFER, buffer.name);
    f_->glBufferData(GL_ARRAY_BUFFER, darkBytes + clearBytes + lineBytes, nullptr, GL_STATIC_DRAW);
    if (f_->glGetError() != GL_NO_ERROR) {
        qWarning("Board canvas: no room for the %lld vertices of layer \"%s\"; it is not drawn",
                 static_cast<long long>(layer.darkVertices + layer.clearVertices + layer.lineVertices),
                 layer.id.c_str());
        f_->glDeleteBuffers(1, &buffer.name);
        buffer.name = 0;
        buffer.failed = true;
        return 0;
    }
    // The meshes keep their triangles as fans: laid out flat a piece at a time.
    const auto upload = [&](const TriangleMesh& mesh, GLintptr at) {
        constexpr std::int64_t kPieceTriangles = kFlushedPieceVertices / 3;
        for (std::int64_t t = 0; t < mesh.triangleCount(); t += kPieceTriangles) {
            const std::int64_t n = std::min(kPieceTriangles, mesh.triangleCount() - t);
            flat_.resize(static_cast<std::size_t>(n) * 6);
            mesh.copyTriangles(t, n, flat_.data());
            f_->glBufferSubData(GL_ARRAY_BUFFER, at + static_cast<GLintptr>(t * 6 * sizeof(float)),
                                static_cast<GLsizeiptr>(n * 6 * sizeof(float)), flat_.data());
        }
    };
    upload(layer.meshes->dark, 0);
    upload(layer.meshes->clear, darkBytes);
    if (lineBytes > 0) {
        f_->glBufferSubData(GL_ARRAY_BUFFER, darkBytes + clearBytes, lineBytes, layer.meshes->centreLines.data());
    }
    return buffer.name;
}

void Scene::drawLayer(const Layer& layer, GLuint buffer, const CanvasTransform::Clip& clip, QSize pixels) {
    mesh_->bind();
    f_->glUniform4f(xformLocation_, static_cast<float>(clip.scaleX), static_cast<float>(clip.centerX),
                    static_cast<float>(clip.scaleY), static_cast<float>(clip.centerY));
    const TessellatedLayer& meshes = *layer.meshes;
    const std::int64_t linesFirst = layer.darkVertices + layer.clearVertices;
    // The mesh that vertex `i` of the layer's numbering (dark, then clear, then the centre lines) lies in, and
    // its place there; a run lies in one array.
    const auto meshAt = [&](std::int64_t i) -> std::pair<const TriangleMesh&, std::int64_t> {
        if (i >= layer.darkVertices) return {meshes.clear, i - layer.darkVertices};
        return {meshes.dark, i};
    };
    const auto linesInPlace = [&](std::int64_t i) {
        f_->glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, meshes.centreLines.data() + (i - linesFirst) * 2);
    };
    const auto inBuffer = [this](std::int64_t i) {
        // Offsetting the attribute instead of passing `first` keeps large layers inside GLint.
        f_->glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0,
                                  reinterpret_cast<const void*>(static_cast<std::uintptr_t>(i) * 8));
    };
    // Arrays in the program's memory are read through the compatibility profile's default vertex array.
    f_->glBindVertexArray(buffer ? meshVao_ : 0);
    f_->glBindBuffer(GL_ARRAY_BUFFER, buffer);
    if (!buffer) f_->glEnableVertexAttribArray(0);
    const TargetTransform target{clip.scaleX, clip.centerX, clip.scaleY, clip.centerY, pixels};
    const auto draw = [&](GLenum mode, std::int64_t first, std::int64_t count) {
        if (buffer) {
            drawRange(mode, first, count, inBuffer);
        } else if (mode == GL_LINES) {
            drawRange(mode, first, count, linesInPlace);
        } else if (const auto [mesh, at] = meshAt(first); !samples_.x.empty()) {
            drawCovering(mesh, at, count, target);
        } else {
            const auto flatPiece = [&, &mesh = mesh, at = at](std::int64_t i) {
                const std::int64_t n = std::min(pieceVertices_, first + count - i);
                flat_.resize(static_cast<std::size_t>(n) * 2);
                mesh.copyTriangles((at + i - first) / 3, n / 3, flat_.data());
                f_->glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, flat_.data());
            };
            drawRange(mode, first, count, flatPiece);
        }
    };
    const float o = unit(layer.opacity);
    for (const Layer::Run& run : layer.runs) {
        if (run.clear) {
            // Zero source factor: every covered sample becomes transparent again.
            f_->glBlendFuncSeparate(GL_ZERO, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE_MINUS_SRC_ALPHA);
            f_->glUniform4f(colorLocation_, 0, 0, 0, 1);
        } else {
            f_->glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
            f_->glUniform4f(colorLocation_, unit(layer.color[0]) * o, unit(layer.color[1]) * o,
                            unit(layer.color[2]) * o, o);
        }
        draw(GL_TRIANGLES, run.first, run.count);
        if (run.lineCount == 0) continue;
        // The centre lines, one pixel wide, keep strokes narrower than a pixel from vanishing. Blending by the
        // larger value adds their pixels to the layer without darkening what the triangles already covered.
        if (!run.clear) f_->glBlendEquation(GL_MAX);
        draw(GL_LINES, run.lineFirst, run.lineCount);
        if (!run.clear) f_->glBlendEquation(GL_FUNC_ADD);
    }
}

void Scene::drawCovering(const TriangleMesh& mesh, std::int64_t first, std::int64_t count,
                         const TargetTransform& target) {
    if (count <= 0) return;
    if (keptCapacity_ < count) {
        kept_.reset(new float[static_cast<std::size_t>(count) * 2]);
        keptCapacity_ = count;
    }
    const std::int64_t pieces = (count + pieceVertices_ - 1) / pieceVertices_;
    std::vector<std::int64_t> kept(static_cast<std::size_t>(pieces));
    parallelFor(kept.size(), [&](std::size_t p) {
        const std::int64_t from = static_cast<std::int64_t>(p) * pieceVertices_;
        kept[p] = keepCoveringTriangles(mesh, (first + from) / 3, std::min(pieceVertices_, count - from) / 3, target,
                                        samples_, kept_.get() + from * 2);
    });
    for (std::size_t p = 0; p < kept.size(); ++p) {
        trianglesLeftOut_ += (std::min(pieceVertices_, count - static_cast<std::int64_t>(p) * pieceVertices_) - kept[p]) / 3;
        if (kept[p] == 0) continue;
        // The driver has read the vertices when the draw returns: the copy may be written again after it.
        f_->glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, kept_.get() + static_cast<std::int64_t>(p) * pieceVertices_ * 2);
        f_->glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(kept[p]));
        f_->glFlush();
    }
}

template <class Attach> void Scene::drawRange(GLenum mode, std::int64_t first, std::int64_t count, Attach&& attach) {
    const bool flushed = pieceVertices_ < kMaxDrawVertices;
    for (std::int64_t done = 0; done < count; done += pieceVertices_) {
        attach(first + done);
        f_->glDrawArrays(mode, 0, static_cast<GLsizei>(std::min(pieceVertices_, count - done)));
        if (flushed) f_->glFlush();
    }
}

// The target pixels (GL's bottom-up rows) that a layer's ink can reach, with two pixels to spare for
// rounding; empty when it lies wholly outside. Each layer pass is scissored to it, so a layer that covers
// little of the view, or none, costs little fill: on software GL every full pass takes milliseconds.
QRect Scene::layerRect(const Layer& layer, const CanvasTransform::Clip& clip, QSize pixels) {
    const BBox& box = layer.inkBox;
    if (!box.isValid()) return {};
    const double w = pixels.width();
    const double h = pixels.height();
    const double ax = ((box.minX - clip.centerX) * clip.scaleX + 1) * 0.5 * w;
    const double bx = ((box.maxX - clip.centerX) * clip.scaleX + 1) * 0.5 * w;
    const double ay = ((box.minY - clip.centerY) * clip.scaleY + 1) * 0.5 * h;
    const double by = ((box.maxY - clip.centerY) * clip.scaleY + 1) * 0.5 * h;
    if (std::isnan(ax) || std::isnan(bx) || std::isnan(ay) || std::isnan(by)) return QRect(QPoint(0, 0), pixels);
    const double x0 = std::clamp(std::floor(std::min(ax, bx)) - 2, 0.0, w);
    const double x1 = std::clamp(std::ceil(std::max(ax, bx)) + 2, 0.0, w);
    const double y0 = std::clamp(std::floor(std::min(ay, by)) - 2, 0.0, h);
    const double y1 = std::clamp(std::ceil(std::max(ay, by)) + 2, 0.0, h);
    if (x1 <= x0 || y1 <= y0) return {};
    return QRect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0));
}

void Scene::render(const std::vector<Layer>& layers, GLuint target, QSize pixels, double viewWidth,
                   double viewHeight, const CameraState& camera) {
    trianglesLeftOut_ = 0;
    dropStaleBuffers(layers);
    f_->glDisable(GL_DEPTH_TEST);
    f_->glDisable(GL_STENCIL_TEST);
    f_->glDisable(GL_SCISSOR_TEST);
    f_->glDisable(GL_CULL_FACE);
    f_->glDisable(GL_FRAMEBUFFER_SRGB); // blending works on the stored values
    f_->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    f_->glBindFramebuffer(GL_FRAMEBUFFER, target);
    f_->glViewport(0, 0, pixels.width(), pixels.height());
    f_->glClearColor(kBackground[0], kBackground[1], kBackground[2], kBackground[3]);
    f_->glClear(GL_COLOR_BUFFER_BIT);

    const bool anyDrawn = std::any_of(layers.begin(), layers.end(), [](const Layer& l) {
        return l.visible && !l.runs.empty();
    });
    if (!anyDrawn || !ensureScratch(pixels)) return;

    const CanvasTransform::Clip clip = CanvasTransform(viewWidth, viewHeight, camera).clip();
    f_->glEnable(GL_BLEND);
    f_->glBlendEquation(GL_FUNC_ADD);
    f_->glActiveTexture(GL_TEXTURE0);
    for (const Layer& layer : layers) {
        // An empty or hidden layer would still cost a full-target pass.
        if (!layer.visible || layer.runs.empty()) continue;
        const QRect rect = layerRect(layer, clip, pixels);
        if (rect.isEmpty()) continue;
        const GLuint buffer = inPlace_ ? 0 : bufferFor(layer);
        if (!buffer && !inPlace_) continue;
        f_->glEnable(GL_SCISSOR_TEST); // clear, draws, resolve and composite alike
        f_->glScissor(rect.x(), rect.y(), rect.width(), rect.height());

        f_->glBindFramebuffer(GL_FRAMEBUFFER, msaaFbo_);
        f_->glViewport(0, 0, pixels.width(), pixels.height());
        f_->glClearColor(0, 0, 0, 0);
        f_->glClear(GL_COLOR_BUFFER_BIT);
        drawLayer(layer, buffer, clip, pixels);

        f_->glBindFramebuffer(GL_READ_FRAMEBUFFER, msaaFbo_);
        f_->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, resolveFbo_);
        f_->glBlitFramebuffer(0, 0, pixels.width(), pixels.height(), 0, 0, pixels.width(), pixels.height(),
                              GL_COLOR_BUFFER_BIT, GL_NEAREST);

        f_->glBindFramebuffer(GL_FRAMEBUFFER, target);
        f_->glViewport(0, 0, pixels.width(), pixels.height());
        f_->glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        quad_->bind();
        quad_->setUniformValue(layerImageLocation_, 0);
        f_->glBindTexture(GL_TEXTURE_2D, resolveTexture_);
        f_->glBindVertexArray(quadVao_);
        f_->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
    f_->glBindVertexArray(0);
    f_->glDisable(GL_SCISSOR_TEST);
    f_->glDisable(GL_BLEND);
    f_->glBindFramebuffer(GL_FRAMEBUFFER, target);
}

QImage Scene::readBack(const std::vector<Layer>& layers, QSize pixels, double devicePixelRatio,
                       const CameraState& camera) {
    GLint maxSize = 0;
    f_->glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
    if (pixels.width() > maxSize || pixels.height() > maxSize) return {};
    QImage image(pixels, QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull()) return {};

    GLint previousFbo = 0;
    f_->glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFbo);
    GLuint color = 0;
    GLuint fbo = 0;
    f_->glGenRenderbuffers(1, &color);
    f_->glBindRenderbuffer(GL_RENDERBUFFER, color);
    f_->glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, pixels.width(), pixels.height());
    f_->glGenFramebuffers(1, &fbo);
    f_->glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    f_->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    const bool complete = f_->glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        render(layers, fbo, pixels, pixels.width() / devicePixelRatio, pixels.height() / devicePixelRatio, camera);
        image = readPixels(fbo, pixels, devicePixelRatio);
    }
    f_->glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFbo));
    f_->glDeleteFramebuffers(1, &fbo);
    f_->glDeleteRenderbuffers(1, &color);
    if (!complete) return {};
    return image;
}

QImage Scene::readPixels(GLuint fbo, QSize pixels, double devicePixelRatio) {
    QImage image(pixels, QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull()) return {};
    // RGBA rows are a multiple of 4 bytes at any width, so alignment 4 leaves no padding.
    f_->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    f_->glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    f_->glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
    f_->glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    const int w = pixels.width();
    const int h = pixels.height();
    std::vector<uchar> rows(static_cast<std::size_t>(w) * 4 * static_cast<std::size_t>(h));
    f_->glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    // GL reads the bottom row first; the image starts with the top row (world +y).
    for (int y = 0; y < h; ++y) {
        std::memcpy(image.scanLine(y), rows.data() + static_cast<std::size_t>(h - 1 - y) * w * 4,
                    static_cast<std::size_t>(w) * 4);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

} // namespace gl

namespace {

// Whether the driver probe() found rasterises on the processor.
bool& probedProcessorRasteriser() {
    static bool processor = false;
    return processor;
}

bool windowingPlatform() {
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// The driver's loading, started early on a thread of its own, which nothing joins: a program that ends
// before its canvas asks for the driver does not wait for it.
std::shared_future<void>& driverLoaded() {
    static std::shared_future<void> loaded;
    return loaded;
}

// A context, surface and scene of their own for the canvas capture, made ready on a thread beside the window
// (GLBoardRenderer::prepareCaptureScene). Never freed: a capture ends the process, and a context must not
// outlive the application object, as a static one would.
struct CaptureScene {
    QOffscreenSurface* surface = nullptr;
    QOpenGLContext* context = nullptr;
    gl::Scene* scene = nullptr;
};

// Whether a picture of `pixels` at `devicePixelRatio` can be drawn at all.
bool drawable(const QSize& pixels, double devicePixelRatio) {
    return pixels.width() >= 1 && pixels.height() >= 1 && std::isfinite(devicePixelRatio) && devicePixelRatio > 0;
}

bool& captureSceneWanted() {
    static bool wanted = false;
    return wanted;
}

std::shared_future<CaptureScene*>& captureScene() {
    static std::shared_future<CaptureScene*> made;
    return made;
}

} // namespace

GLBoardRenderer::GLBoardRenderer(QWidget* parent) : QOpenGLWidget(parent) {
    setFormat(canvasFormat());
}

GLBoardRenderer::~GLBoardRenderer() {
    releaseWidgetScene();
    releaseOffscreenScene();
}

QSurfaceFormat GLBoardRenderer::surfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    // Layers are multisampled in passes of their own. Every other surface (the widget's framebuffer, the
    // offscreen one, and every window, which composes its widgets with the canvas's picture) receives
    // whole-target composites only, where samples would add fill and change no pixel; a window asking for
    // them costs every repaint of any widget in it on software OpenGL, and an offscreen surface asking for
    // them may find no configuration at all.
    format.setSamples(0);
    return format;
}

bool GLBoardRenderer::setReadsVerticesInPlace(bool inPlace) { return std::exchange(probedProcessorRasteriser(), inPlace); }

QSurfaceFormat GLBoardRenderer::canvasFormat() {
    QSurfaceFormat format = surfaceFormat();
    if (probedProcessorRasteriser()) {
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        // Without it the context is asked to be forward compatible, which is the core profile again.
        format.setOption(QSurfaceFormat::DeprecatedFunctions);
    }
    return format;
}

void GLBoardRenderer::installDefaultSurfaceFormat() { QSurfaceFormat::setDefaultFormat(surfaceFormat()); }

void GLBoardRenderer::startLoadingDriver() {
    if (!windowingPlatform() || driverLoaded().valid() || !QOpenGLContext::supportsThreadedOpenGL()) return;
    auto loaded = std::make_shared<std::promise<void>>();
    driverLoaded() = loaded->get_future().share();
    std::thread([loaded] {
        {
            QOpenGLContext context;
            context.setFormat(surfaceFormat());
            context.create();
        }
        loaded->set_value();
    }).detach();
}

bool GLBoardRenderer::probe() {
    if (!windowingPlatform()) return false;
    // The first context loads the driver, on a processor rasteriser its compiler along with it: that took
    // longer than building the rest of the window, so startLoadingDriver() began it before the window.
    if (driverLoaded().valid()) driverLoaded().wait();
    QOpenGLContext context;
    context.setFormat(surfaceFormat());
    if (!context.create()) return false;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) return false;
    gl::Scene scene(&context);
    const bool ok = scene.initialize();
    setReadsVerticesInPlace(ok && rasterisesOnProcessor(&context));
    scene.release();
    context.doneCurrent();
    if (ok && captureSceneWanted() && !captureScene().valid()) startMakingCaptureScene();
    return ok;
}

bool GLBoardRenderer::prepareCaptureScene(bool wanted) { return std::exchange(captureSceneWanted(), wanted); }

void GLBoardRenderer::startMakingCaptureScene() {
    if (!QOpenGLContext::supportsThreadedOpenGL()) return;
    // Made here: on some platforms an offscreen surface is a hidden window, which belongs to the GUI thread.
    auto* surface = new QOffscreenSurface;
    surface->setFormat(canvasFormat());
    surface->create();
    if (!surface->isValid()) {
        delete surface;
        return;
    }
    auto made = std::make_shared<std::promise<CaptureScene*>>();
    captureScene() = made->get_future().share();
    // The context is made current on the thread, draws the warm-up frame once, so that every pass's code is
    // compiled, and is handed to the GUI thread. Null when a step fails.
    std::thread([made, surface, format = canvasFormat(), gui = QThread::currentThread()] {
        const auto make = [&]() -> CaptureScene* {
            auto context = std::make_unique<QOpenGLContext>();
            context->setFormat(format);
            if (!context->create() || !context->makeCurrent(surface)) return nullptr;
            auto scene = std::make_unique<gl::Scene>(context.get());
            if (!scene->initialize()) {
                scene->release();
                context->doneCurrent();
                return nullptr;
            }
            const auto [layer, camera] = warmUpFrame();
            scene->readBack({layer}, QSize(kWarmUpPixels, kWarmUpPixels), 1.0, camera);
            context->doneCurrent();
            context->moveToThread(gui);
            auto* ready = new CaptureScene{surface, context.get(), scene.get()};
            context.release();
            scene.release();
            return ready;
        };
        CaptureScene* ready = nullptr;
        try {
            ready = make();
        } catch (const std::bad_alloc&) {
            // No memory for it: the capture draws with the canvas's own context.
        }
        made->set_value(ready);
    }).detach();
}

std::vector<GLBoardRenderer::RenderLayer::Run>
GLBoardRenderer::buildRuns(const TessellatedLayer& meshes, std::int64_t darkVertices,
                           std::int64_t clearVertices, std::int64_t lineVertices) {
    std::vector<RenderLayer::Run> runs;
    // Runs come from outside: keep each range inside its array, whole triangles and whole lines only.
    const auto within = [](std::int64_t first, std::int64_t count, std::int64_t size, std::int64_t unit) {
        if (first < 0 || first >= size || count <= 0 || first % unit != 0) return std::int64_t{0};
        count = std::min(count, size - first);
        return count - count % unit;
    };
    auto add = [&](bool clear, const PolarityRun& run) {
        const std::int64_t count = within(run.firstVertex, run.vertexCount, clear ? clearVertices : darkVertices, 3);
        const std::int64_t lines = within(run.firstLineVertex, run.lineVertexCount, lineVertices, 2);
        if (count > 0 || lines > 0)
            runs.push_back({clear, (clear ? darkVertices : 0) + run.firstVertex, count,
                            darkVertices + clearVertices + run.firstLineVertex, lines});
    };
    if (meshes.runs.empty()) {
        add(false, PolarityRun{Polarity::dark, 0, darkVertices});
        add(true, PolarityRun{Polarity::clear, 0, clearVertices});
    } else {
        for (const PolarityRun& run : meshes.runs) add(run.polarity == Polarity::clear, run);
    }
    return runs;
}

BBox GLBoardRenderer::inkBoxOf(const RenderLayer& layer) {
    float minX = std::numeric_limits<float>::infinity();
    float minY = minX;
    float maxX = -minX;
    float maxY = -minX;
    for (const RenderLayer::Run& run : layer.runs) {
        if (run.clear) continue;
        // A NaN corner is left out, as the rasteriser leaves its triangle out.
        const auto [x0, y0, x1, y1] = layer.meshes->dark.extent(run.first / 3, run.count / 3);
        minX = std::min(minX, x0);
        minY = std::min(minY, y0);
        maxX = std::max(maxX, x1);
        maxY = std::max(maxY, y1);
    }
    return BBox{minX, minY, maxX, maxY};
}

void GLBoardRenderer::assignMeshes(RenderLayer& layer, std::shared_ptr<const TessellatedLayer> meshes) {
    layer.darkVertices = meshes->dark.vertexCount();
    layer.clearVertices = meshes->clear.vertexCount();
    layer.lineVertices = static_cast<std::int64_t>(meshes->centreLines.size() / 2);
    layer.runs = buildRuns(*meshes, layer.darkVertices, layer.clearVertices, layer.lineVertices);
    layer.meshes = std::move(meshes);
    layer.inkBox = inkBoxOf(layer);
    ++layer.version;
}

void GLBoardRenderer::removeAllLayers() {
    layers_.clear();
    ++contentVersion_;
    update();
}

void GLBoardRenderer::setLayer(const std::string& id, const Color& color, float opacity, bool visible,
                               std::shared_ptr<const TessellatedLayer> meshes) {
    auto it = std::find_if(layers_.begin(), layers_.end(), [&](const RenderLayer& l) { return l.id == id; });
    if (it == layers_.end()) {
        RenderLayer layer;
        layer.id = id;
        layer.serial = nextSerial_++;
        layers_.push_back(std::move(layer));
        it = layers_.end() - 1;
    }
    it->color = color;
    it->opacity = opacity;
    it->visible = visible;
    if (!meshes) meshes = std::make_shared<const TessellatedLayer>();
    if (meshes != it->meshes) assignMeshes(*it, std::move(meshes));
    ++contentVersion_;
    update();
}

void GLBoardRenderer::setCamera(const CameraState& camera) {
    if (camera == camera_) return;
    camera_ = camera;
    ++contentVersion_;
    update();
}

void GLBoardRenderer::initializeGL() {
    // The previous context, if any, is gone and took its objects and its frame along.
    widgetScene_.reset();
    painted_.reset();
    warmedUp_ = false;
    auto scene = std::make_unique<gl::Scene>(context());
    if (failed_ || !scene->initialize()) {
        scene->release();
        if (!failed_) {
            failed_ = true;
            qWarning("Board canvas: OpenGL 3.3 is not available; using the software canvas");
            // Queued: the receiver may replace this widget, which must not happen inside initializeGL.
            QMetaObject::invokeMethod(this, &GLBoardRenderer::glFailed, Qt::QueuedConnection);
        }
        return;
    }
    widgetScene_ = std::move(scene);
    // A widget moved to another window gets a new context; the old one takes its objects along.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &GLBoardRenderer::releaseWidgetScene,
            Qt::UniqueConnection);
}

void GLBoardRenderer::releaseWidgetScene() {
    if (!widgetScene_) return;
    if (context() == widgetScene_->context()) {
        makeCurrent();
        widgetScene_->release();
        doneCurrent();
    }
    widgetScene_.reset();
}

void GLBoardRenderer::releaseOffscreenScene() {
    if (offscreenScene_ && offscreenContext_->makeCurrent(offscreenSurface_.get())) {
        offscreenScene_->release();
        offscreenContext_->doneCurrent();
    }
    offscreenScene_.reset();
    offscreenContext_.reset();
    offscreenSurface_.reset();
}

void GLBoardRenderer::paintGL() {
    QOpenGLExtraFunctions* f = context()->extraFunctions();
    if (!widgetScene_) {
        f->glClearColor(kBackground[0], kBackground[1], kBackground[2], kBackground[3]);
        f->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    // The viewport Qt set is the framebuffer in pixels; the camera scale is per point.
    GLint viewport[4] = {0, 0, 0, 0};
    f->glGetIntegerv(GL_VIEWPORT, viewport);
    const QSize pixels(viewport[2], viewport[3]);
    if (pixels.width() < 1 || pixels.height() < 1 || width() < 1 || height() < 1) return;
    widgetScene_->render(layers_, defaultFramebufferObject(), pixels, width(), height(), camera_);
    painted_ = PaintedFrame{contentVersion_, pixels, QSize(width(), height())};
    ++framesDrawn_;
    if (!warmedUp_ && std::none_of(layers_.begin(), layers_.end(), [](const RenderLayer& l) { return !l.runs.empty(); })) {
        warmedUp_ = true;
        // Behind every event waiting now: a launch opening a board has handed its import to a worker by then,
        // and a board that arrives first is drawn first.
        QCoreApplication::postEvent(this, new QEvent(warmUpEvent()), std::numeric_limits<int>::min());
    }
}

QEvent::Type GLBoardRenderer::warmUpEvent() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool GLBoardRenderer::event(QEvent* e) {
    if (e->type() != warmUpEvent()) return QOpenGLWidget::event(e);
    warmUp();
    return true;
}

std::pair<GLBoardRenderer::RenderLayer, CameraState> GLBoardRenderer::warmUpFrame() {
    // A stroke with a clear hole and its centre line: every pass a layer takes (dark triangles, clear ones,
    // lines, the resolve and the composite), drawn into a target of its own that is thrown away.
    const TessellatedLayer shape = Tessellator().tessellate({
        PCBObject(PCBObjectKind::stroke({0, 0}, {1, 0}), std::nullopt, ApertureShape::circle(0.2), Polarity::dark,
                  std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0),
        PCBObject(PCBObjectKind::flash({0.5, 0}), std::nullopt, ApertureShape::circle(0.1), Polarity::clear,
                  std::nullopt, std::nullopt, std::nullopt, std::nullopt, 1),
    });
    RenderLayer layer;
    layer.id = "warm-up";
    layer.color = {1, 1, 1, 1};
    assignMeshes(layer, std::make_shared<const TessellatedLayer>(shape));
    CameraState camera;
    camera.center = Vec2{0.5, 0};
    camera.pxPerMM = 8;
    return {std::move(layer), camera};
}

void GLBoardRenderer::warmUp() {
    if (!widgetScene_ || !context() || !context()->isValid()) return;
    // A capture has its own scene, made ready beside the window; the window's board is drawn after it.
    if (captureSceneWanted()) return;
    // A board that came first is drawn by its own frame, which does the same.
    if (std::any_of(layers_.begin(), layers_.end(), [](const RenderLayer& l) { return !l.runs.empty(); })) return;
    const double dpr = devicePixelRatioF();
    const QSize pixels(static_cast<int>(width() * dpr), static_cast<int>(height() * dpr));
    if (pixels.isEmpty()) return;
    // Drawn at this size, the multisampled target is made ready along with the code.
    auto [layer, camera] = warmUpFrame();
    layer.serial = nextSerial_++;
    makeCurrent();
    widgetScene_->readBack({layer}, pixels, dpr, camera);
    doneCurrent();
}

gl::Scene* GLBoardRenderer::offscreenScene() {
    if (offscreenScene_) {
        return offscreenContext_->makeCurrent(offscreenSurface_.get()) ? offscreenScene_.get() : nullptr;
    }
    if (offscreenContext_) return nullptr; // made once and failed
    offscreenContext_ = std::make_unique<QOpenGLContext>();
    offscreenContext_->setFormat(canvasFormat());
    offscreenSurface_ = std::make_unique<QOffscreenSurface>();
    if (!offscreenContext_->create()) return nullptr;
    offscreenSurface_->setFormat(offscreenContext_->format());
    offscreenSurface_->create();
    if (!offscreenSurface_->isValid() || !offscreenContext_->makeCurrent(offscreenSurface_.get())) {
        return nullptr;
    }
    auto scene = std::make_unique<gl::Scene>(offscreenContext_.get());
    if (!scene->initialize()) {
        scene->release();
        offscreenContext_->doneCurrent();
        return nullptr;
    }
    offscreenScene_ = std::move(scene);
    return offscreenScene_.get();
}

QImage GLBoardRenderer::renderToImage(const QSize& pixelSize, double devicePixelRatio) {
    if (!drawable(pixelSize, devicePixelRatio)) return {};
    if (widgetScene_ && context() && context()->isValid()) {
        releaseOffscreenScene(); // the widget's context serves from now on
        makeCurrent();
        // The frame the widget shows is read back when it is the one asked for: drawing it again can take
        // as long as the first time on software OpenGL.
        const bool shown = painted_ && painted_->version == contentVersion_ && painted_->pixels == pixelSize &&
                           painted_->view == QSize(width(), height()) &&
                           std::abs(pixelSize.width() / devicePixelRatio - width()) < 1e-9 &&
                           std::abs(pixelSize.height() / devicePixelRatio - height()) < 1e-9;
        QImage image = shown ? widgetScene_->readPixels(defaultFramebufferObject(), pixelSize, devicePixelRatio)
                             : widgetScene_->readBack(layers_, pixelSize, devicePixelRatio, camera_);
        doneCurrent();
        return image;
    }
    gl::Scene* scene = offscreenScene();
    if (!scene) return {};
    QImage image = scene->readBack(layers_, pixelSize, devicePixelRatio, camera_);
    offscreenContext_->doneCurrent();
    return image;
}

QImage GLBoardRenderer::captureImage(const QSize& pixelSize, double devicePixelRatio) {
    CaptureScene* prepared = captureSceneWanted() && captureScene().valid() ? captureScene().get() : nullptr;
    if (prepared && drawable(pixelSize, devicePixelRatio) && prepared->context->makeCurrent(prepared->surface)) {
        QImage image = prepared->scene->readBack(layers_, pixelSize, devicePixelRatio, camera_);
        prepared->context->doneCurrent();
        if (!image.isNull()) return image;
    }
    return renderToImage(pixelSize, devicePixelRatio);
}

std::int64_t GLBoardRenderer::trianglesLeftOut() const {
    // The scene that drew last: the offscreen one serves only while the widget has no context.
    if (widgetScene_) return widgetScene_->trianglesLeftOut();
    return offscreenScene_ ? offscreenScene_->trianglesLeftOut() : 0;
}

QImage GLBoardRenderer::snapshot() {
    const double dpr = devicePixelRatioF();
    return renderToImage(size() * dpr, dpr);
}

} // namespace corvane
