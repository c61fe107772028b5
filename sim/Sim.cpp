// Simulated instruments land here.
