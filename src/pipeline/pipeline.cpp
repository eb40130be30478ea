// Placeholder until the stage lands.
