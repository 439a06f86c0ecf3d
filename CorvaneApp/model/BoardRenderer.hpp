#pragma once
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "model/CameraState.hpp"
#include "mesh/Tessellator.hpp"

namespace corvane {

// What the application model drives on the board canvas's renderer, on the GUI thread only. The GPU canvas
// implements it; model tests implement it with a recording fake.
class BoardRenderer {
public:
    using Color = std::array<float, 4>; // r, g, b, a in 0 … 1; a is not used for drawing

    virtual ~BoardRenderer() = default;

    // Empties the layer list; the uploads that follow define the drawing order afresh.
    virtual void removeAllLayers() = 0;

    // Creates or updates the layer `id`. A new id goes on top of the drawing order; an id already present
    // keeps its place. The meshes are shared, not copied: passing the same object again changes only colour,
    // opacity and visibility and costs no upload. Their runs say in which order dark triangles blend and
    // clear ones erase; a layer without runs draws all its dark triangles, then all its clear ones.
    // A null `meshes` is an empty layer.
    virtual void setLayer(const std::string& id, const Color& color, float opacity, bool visible,
                          std::shared_ptr<const TessellatedLayer> meshes) = 0;

    // Same, from flat x, y float arrays (three vertices per triangle).
    void setLayer(const std::string& id, const Color& color, float opacity, bool visible, std::vector<float> dark,
                  std::vector<float> clear, std::vector<PolarityRun> runs = {}) {
        auto meshes = std::make_shared<TessellatedLayer>();
        meshes->dark = TriangleMesh::ofTriangles(dark);
        meshes->clear = TriangleMesh::ofTriangles(clear);
        meshes->runs = std::move(runs);
        setLayer(id, color, opacity, visible, std::shared_ptr<const TessellatedLayer>(std::move(meshes)));
    }

    virtual const CameraState& camera() const = 0;
    virtual void setCamera(const CameraState& camera) = 0;
};

} // namespace corvane
