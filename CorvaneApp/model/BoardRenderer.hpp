#pragma once
// What the application model needs of a board renderer: the GPU canvas implements it, tests record it.
#include <array>
#include <memory>
#include <string>

#include "canvas/CameraState.hpp"
#include "model/GeometryEngine.hpp"

namespace corvane {

using RendererColor = std::array<float, 4>;  // red, green, blue, alpha in 0...1

class BoardRenderer {
public:
    BoardRenderer() : alive_(std::make_shared<char>(0)) {}
    BoardRenderer(const BoardRenderer&) = delete;
    BoardRenderer& operator=(const BoardRenderer&) = delete;
    virtual ~BoardRenderer() = default;

    // Forgets every layer; the uploads that follow set the drawing order afresh.
    virtual void removeAllLayers() = 0;
    // Creates or replaces the layer `id`, drawing it in `geometry`'s polarity runs. The model hands the same
    // mesh object again while a file's geometry is unchanged, so a renderer may skip re-sending it.
    virtual void setLayer(const std::string& id, const RendererColor& color, float opacity, bool visible,
                          std::shared_ptr<const TessellatedLayer> geometry) = 0;
    virtual void setCamera(const CameraState& camera) = 0;

    // Expires when the renderer is destroyed: the model holds the renderer without keeping it alive.
    std::weak_ptr<const void> lifetime() const { return alive_; }

private:
    std::shared_ptr<const void> alive_;
};

} // namespace corvane
