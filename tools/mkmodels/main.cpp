// quorv-mkmodels: builds the exhibit's two models and writes them through osgDB's writers.
//
//   quorv-mkmodels CHARACTER.osg PLAY.3ds
//
// The character ("Tarmelia") is a friendly figure about 3.5 units tall, feet at z = 0, facing
// +y, so that scaled by 20 it stands 70 mm high on a 120 mm marker. The "Play" sign is a
// play triangle on a disc, 100 units across, centred on the origin and standing on z = 0.
#include <algorithm>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osg/Material>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>
#include <osgDB/WriteFile>

#include <cmath>
#include <cstdio>

namespace {

osg::Material* material(float r, float g, float b, float shine = 20.0f) {
    auto* m = new osg::Material;
    m->setAmbient(osg::Material::FRONT_AND_BACK, osg::Vec4(r * 0.35f, g * 0.35f, b * 0.35f, 1));
    m->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(r, g, b, 1));
    m->setSpecular(osg::Material::FRONT_AND_BACK, osg::Vec4(0.25f, 0.25f, 0.25f, 1));
    m->setShininess(osg::Material::FRONT_AND_BACK, shine);
    return m;
}

/// The radius that sets how finely a part is tessellated (boxes have flat faces anyway).
float roundness(const osg::Shape* shape) {
    if (auto* sphere = dynamic_cast<const osg::Sphere*>(shape)) return sphere->getRadius();
    if (auto* capsule = dynamic_cast<const osg::Capsule*>(shape)) return capsule->getRadius();
    if (auto* cone = dynamic_cast<const osg::Cone*>(shape)) return cone->getRadius();
    if (auto* cylinder = dynamic_cast<const osg::Cylinder*>(shape)) return cylinder->getRadius();
    return 0.0f;
}

/// One coloured part of the character. Parts are tessellated in proportion to their radius: the
/// head (radius 0.5) gets OSG's standard 40 segments around, the smallest parts 14. The
/// character is drawn every frame, by software rasterisers too, where every triangle costs; a
/// uniform fine tessellation gave tiny dots the head's 3,600 triangles each.
osg::Geode* part(osg::Shape* shape, osg::Material* colour, const char* name = "") {
    auto* hints = new osg::TessellationHints;
    hints->setDetailRatio(std::clamp(roundness(shape) * 2.5f, 0.35f, 1.0f));
    auto* drawable = new osg::ShapeDrawable(shape, hints);
    auto* geode = new osg::Geode;
    geode->addDrawable(drawable);
    geode->setName(name);
    geode->getOrCreateStateSet()->setAttributeAndModes(colour);
    return geode;
}

/// A capsule between two points.
osg::Capsule* limb(const osg::Vec3& from, const osg::Vec3& to, float radius) {
    const osg::Vec3 axis = to - from;
    auto* capsule = new osg::Capsule((from + to) * 0.5f, radius, axis.length());
    osg::Quat turn;
    turn.makeRotate(osg::Vec3(0, 0, 1), axis);
    capsule->setRotation(turn);
    return capsule;
}

osg::Node* makeCharacter() {
    auto* root = new osg::Group;
    root->setName("Tarmelia");
    // Scaled 20 times on its marker: keep normals unit length.
    root->getOrCreateStateSet()->setMode(GL_NORMALIZE, osg::StateAttribute::ON);

    osg::Material* skin = material(0.96f, 0.78f, 0.62f);
    osg::Material* dress = material(0.90f, 0.35f, 0.15f);
    osg::Material* trousers = material(0.20f, 0.35f, 0.75f);
    osg::Material* shoes = material(0.25f, 0.15f, 0.10f);
    osg::Material* hair = material(0.35f, 0.20f, 0.10f);
    osg::Material* dark = material(0.05f, 0.05f, 0.08f, 60.0f);
    osg::Material* white = material(1.0f, 1.0f, 1.0f, 60.0f);
    osg::Material* cheeks = material(0.95f, 0.45f, 0.45f);

    // Feet and legs: shoes on the ground, toes towards +y.
    for (float x : {-0.25f, 0.25f}) {
        root->addChild(part(new osg::Box(osg::Vec3(x, 0.08f, 0.09f), 0.28f, 0.48f, 0.18f), shoes));
        root->addChild(part(limb(osg::Vec3(x, 0, 0.25f), osg::Vec3(x, 0, 1.25f), 0.14f), trousers));
    }
    // Body: a rounded dress over the hips and chest.
    root->addChild(part(new osg::Cone(osg::Vec3(0, 0, 1.25f), 0.62f, 1.25f), dress));
    root->addChild(part(limb(osg::Vec3(0, 0, 1.45f), osg::Vec3(0, 0, 2.15f), 0.38f), dress));
    // Arms, hanging a little outwards, with hands.
    for (float side : {-1.0f, 1.0f}) {
        const osg::Vec3 shoulder(side * 0.45f, 0, 2.2f), hand(side * 0.75f, 0.1f, 1.45f);
        root->addChild(part(limb(shoulder, hand, 0.11f), dress));
        root->addChild(part(new osg::Sphere(hand, 0.14f), skin));
    }
    // Neck and head.
    root->addChild(part(new osg::Cylinder(osg::Vec3(0, 0, 2.5f), 0.12f, 0.3f), skin));
    const osg::Vec3 head(0, 0, 2.95f);
    root->addChild(part(new osg::Sphere(head, 0.5f), skin));
    // Hair: a cap over the back and top of the head, and a bun.
    root->addChild(part(new osg::Sphere(head + osg::Vec3(0, -0.08f, 0.1f), 0.49f), hair));
    root->addChild(part(new osg::Sphere(head + osg::Vec3(0, -0.3f, 0.45f), 0.2f), hair));
    // Face, on the +y side: eyes with highlights, nose, cheeks, smile.
    for (float x : {-0.17f, 0.17f}) {
        root->addChild(part(new osg::Sphere(head + osg::Vec3(x, 0.44f, 0.08f), 0.09f), white));
        root->addChild(part(new osg::Sphere(head + osg::Vec3(x, 0.51f, 0.08f), 0.05f), dark, "eye"));
        root->addChild(part(new osg::Sphere(head + osg::Vec3(x * 1.5f, 0.4f, -0.12f), 0.07f), cheeks));
    }
    root->addChild(part(new osg::Sphere(head + osg::Vec3(0, 0.52f, -0.04f), 0.06f), skin));
    for (int i = -3; i <= 3; ++i) {
        const float a = i * 0.3f;
        root->addChild(part(new osg::Sphere(head + osg::Vec3(0.2f * std::sin(a), 0.45f,
                                                             -0.25f + 0.14f * (1 - std::cos(a))),
                                            0.03f),
                            dark));
    }
    return root;
}

/// Appends a closed prism: the polygon `outline` (counter-clockwise seen from +z) extruded from
/// z0 to z1, as flat-shaded triangles.
void addPrism(osg::Vec3Array* v, osg::Vec3Array* n, const std::vector<osg::Vec2>& outline,
              float z0, float z1) {
    const size_t count = outline.size();
    osg::Vec2 centre;
    for (const osg::Vec2& p : outline) centre += p;
    centre /= static_cast<float>(count);
    for (size_t i = 0; i < count; ++i) {
        const osg::Vec2& a = outline[i];
        const osg::Vec2& b = outline[(i + 1) % count];
        // Top and bottom fans.
        v->push_back(osg::Vec3(centre, z1));
        v->push_back(osg::Vec3(a, z1));
        v->push_back(osg::Vec3(b, z1));
        for (int k = 0; k < 3; ++k) n->push_back(osg::Vec3(0, 0, 1));
        v->push_back(osg::Vec3(centre, z0));
        v->push_back(osg::Vec3(b, z0));
        v->push_back(osg::Vec3(a, z0));
        for (int k = 0; k < 3; ++k) n->push_back(osg::Vec3(0, 0, -1));
        // Side wall.
        osg::Vec3 out(b.y() - a.y(), a.x() - b.x(), 0);
        out.normalize();
        const osg::Vec3 quad[6] = {{a, z0}, {b, z0}, {b, z1}, {a, z0}, {b, z1}, {a, z1}};
        for (const osg::Vec3& p : quad) {
            v->push_back(p);
            n->push_back(out);
        }
    }
}

osg::Geode* prism(const std::vector<osg::Vec2>& outline, float z0, float z1, osg::Material* colour) {
    auto* geometry = new osg::Geometry;
    auto* vertices = new osg::Vec3Array;
    auto* normals = new osg::Vec3Array;
    addPrism(vertices, normals, outline, z0, z1);
    geometry->setVertexArray(vertices);
    geometry->setNormalArray(normals, osg::Array::BIND_PER_VERTEX);
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices->size())));
    auto* geode = new osg::Geode;
    geode->addDrawable(geometry);
    geode->getOrCreateStateSet()->setAttributeAndModes(colour);
    return geode;
}

osg::Node* makePlaySign() {
    auto* root = new osg::Group;
    root->setName("Play");
    std::vector<osg::Vec2> disc, ring, triangle;
    for (int i = 0; i < 48; ++i) {
        const float a = 2.0f * float(M_PI) * i / 48.0f;
        disc.emplace_back(50.0f * std::cos(a), 50.0f * std::sin(a));
    }
    // The play triangle, pointing +x, its centroid on the origin.
    triangle = {{-13.0f, -24.0f}, {26.0f, 0.0f}, {-13.0f, 24.0f}};
    root->addChild(prism(disc, 0.0f, 8.0f, material(0.10f, 0.55f, 0.25f, 40.0f)));
    root->addChild(prism(triangle, 8.0f, 20.0f, material(1.0f, 1.0f, 1.0f, 60.0f)));
    return root;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quorv-mkmodels CHARACTER.osg PLAY.3ds\n");
        return 2;
    }
    osg::ref_ptr<osg::Node> character = makeCharacter();
    osg::ref_ptr<osg::Node> play = makePlaySign();
    if (!osgDB::writeNodeFile(*character, argv[1])) {
        std::fprintf(stderr, "quorv-mkmodels: cannot write %s\n", argv[1]);
        return 1;
    }
    if (!osgDB::writeNodeFile(*play, argv[2])) {
        std::fprintf(stderr, "quorv-mkmodels: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
