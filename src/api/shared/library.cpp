// The shared library libnerroPolygon.so: every object of nerro_api linked
// whole, the fifteen exports made visible by nerroPolygon.map, everything
// else kept local.
