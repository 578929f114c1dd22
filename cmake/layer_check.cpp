// Nothing of its own: a shared library made of one layer of the program, linked with no undefined
// symbol allowed, shows that the layer calls only the layers below it.
